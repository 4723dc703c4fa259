#pragma once
// A real-to-complex FFTW transform of one size: the plan and both buffers are made in the
// constructor, so Execute allocates nothing and may run on any one thread at a time. Different
// transforms may run at once; making and destroying plans is serialised (FFTW's planner is not
// thread-safe).

#include <complex>

class CRealFft {
public:
    explicit CRealFft(int size); // size: samples, 2 or more (odd too: Bins() is then (size+1)/2)
    ~CRealFft();
    CRealFft(const CRealFft&) = delete;
    CRealFft& operator=(const CRealFft&) = delete;

    int Size() const { return m_size; }
    int Bins() const { return m_size / 2 + 1; }

    // Fill Input()[0..Size()), Execute, read Output()[0..Bins()): X_k = sum x_n e^(-2 pi i k n /
    // N), unnormalised. Input is kept.
    double* Input() { return m_in; }
    void Execute();
    std::complex<double>* Output() { return m_out; }
    const std::complex<double>* Output() const { return m_out; }

private:
    int m_size;
    double* m_in;
    std::complex<double>* m_out;
    void* m_plan;
};

// The inverse of CRealFft: complex bins 0..Size()/2 to Size() real samples, unnormalised (a
// forward then inverse transform multiplies by Size()). Same threading as CRealFft. FFTW destroys
// the input of a complex-to-real transform, so Input() holds garbage after Execute.
class CInverseRealFft {
public:
    explicit CInverseRealFft(int size); // size: samples, even
    ~CInverseRealFft();
    CInverseRealFft(const CInverseRealFft&) = delete;
    CInverseRealFft& operator=(const CInverseRealFft&) = delete;

    int Size() const { return m_size; }
    int Bins() const { return m_size / 2 + 1; }

    std::complex<double>* Input() { return m_in; }
    void Execute();
    const double* Output() const { return m_out; }

private:
    int m_size;
    std::complex<double>* m_in;
    double* m_out;
    void* m_plan;
};
