#pragma once
// Diagnostics for the benchmarks and end-to-end tests, off unless TAVRIN_TRACE=1 is in the
// environment: then each call prints "tavrin-trace SECONDS TEXT" on stderr, SECONDS on the
// monotonic clock (the one Python's time.monotonic() reads). Any thread.

bool TraceEnabled();
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A live frame reached the screen: traces the first one, and each one that ends a gap of more
// than a second (capture stopped or its device lost). GUI thread.
void TraceFrameShown();
