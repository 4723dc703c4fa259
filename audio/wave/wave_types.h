#pragma once
// Names shared by every wave backend and the simulated bench's fault table.

enum class WaveDirection { In, Out };
enum class WaveCall { Open, Prepare, Unprepare, Add, Start, Reset, Close };
