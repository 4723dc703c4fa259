#pragma once
// The icon and logo live in a resource file compiled into the static library; a static library's
// resources must be registered explicitly before their first use. GUI thread; idempotent.
void InitAppResources();
