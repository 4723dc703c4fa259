#include "fft/real_fft.h"

#include <fftw3.h>

#include <mutex>
#include <new>
#include <stdexcept>
#include <string>

namespace {

std::mutex& PlannerMutex() {
    static std::mutex mutex;
    return mutex;
}

// FFTW transforms any length; the inverse is kept to even ones, where bin Size()/2 is Nyquist's.
void CheckSize(const char* who, int size, bool anyLength) {
    if (size < 2 || (!anyLength && size % 2 != 0)) {
        throw std::invalid_argument(std::string(who) + ": the size must be even");
    }
}

// Plans a transform between buffers just allocated; frees them when that fails.
template <typename MakePlan> void* Plan(const char* who, void* in, void* out, MakePlan make) {
    if (!in || !out) {
        fftw_free(in);
        fftw_free(out);
        throw std::bad_alloc();
    }
    fftw_plan plan = nullptr;
    {
        std::lock_guard lock(PlannerMutex());
        plan = make();
    }
    if (!plan) {
        fftw_free(in);
        fftw_free(out);
        throw std::runtime_error(std::string(who) + ": FFTW made no plan for this size");
    }
    return plan;
}

void Release(void* plan, void* in, void* out) {
    {
        std::lock_guard lock(PlannerMutex());
        fftw_destroy_plan(static_cast<fftw_plan>(plan));
    }
    fftw_free(in);
    fftw_free(out);
}

} // namespace

// FFTW_ESTIMATE: a measured plan would cost seconds at start-up for a transform that runs a few
// times a second; the estimated one is within a small factor.
CRealFft::CRealFft(int size) : m_size(size) {
    CheckSize("CRealFft", size, true);
    m_in = fftw_alloc_real(size_t(size));
    // fftw_complex is double[2], laid out as std::complex<double>.
    m_out = reinterpret_cast<std::complex<double>*>(fftw_alloc_complex(size_t(Bins())));
    m_plan = Plan("CRealFft", m_in, m_out, [this] {
        return fftw_plan_dft_r2c_1d(m_size, m_in, reinterpret_cast<fftw_complex*>(m_out),
                                    FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
    });
}

CRealFft::~CRealFft() {
    Release(m_plan, m_in, m_out);
}

void CRealFft::Execute() {
    fftw_execute(static_cast<fftw_plan>(m_plan));
}

CInverseRealFft::CInverseRealFft(int size) : m_size(size) {
    CheckSize("CInverseRealFft", size, false);
    m_in = reinterpret_cast<std::complex<double>*>(fftw_alloc_complex(size_t(Bins())));
    m_out = fftw_alloc_real(size_t(size));
    m_plan = Plan("CInverseRealFft", m_in, m_out, [this] {
        return fftw_plan_dft_c2r_1d(m_size, reinterpret_cast<fftw_complex*>(m_in), m_out,
                                    FFTW_ESTIMATE);
    });
}

CInverseRealFft::~CInverseRealFft() {
    Release(m_plan, m_in, m_out);
}

void CInverseRealFft::Execute() {
    fftw_execute(static_cast<fftw_plan>(m_plan));
}
