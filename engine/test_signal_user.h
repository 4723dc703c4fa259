#pragma once
// One who plays the test signal (a window, a dialog). The signal has one user at a time: when
// another starts it, the one before is told, so it can show that it no longer plays.
class TestSignalUser {
public:
    // GUI thread, from inside the other user's StartTestSignal, before its signal plays.
    virtual void TestSignalTaken() = 0;

protected:
    ~TestSignalUser() = default;
};
