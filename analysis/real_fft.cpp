#include "real_fft.h"

#include <fftw3.h>

#include <mutex>
#include <new>
#include <stdexcept>

namespace {

std::mutex& PlannerMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

// FFTW_ESTIMATE: a measured plan would cost seconds at start-up for a transform that runs a few
// times a second; the estimated one is within a small factor.
CRealFft::CRealFft(int size) : m_size(size) {
    if (size < 2 || size % 2 != 0) {
        throw std::invalid_argument("CRealFft: the size must be even");
    }
    m_in = fftw_alloc_real(size_t(size));
    // fftw_complex is double[2], laid out as std::complex<double>.
    m_out = reinterpret_cast<std::complex<double>*>(fftw_alloc_complex(size_t(Bins())));
    if (!m_in || !m_out) {
        fftw_free(m_in);
        fftw_free(m_out);
        throw std::bad_alloc();
    }
    {
        std::lock_guard lock(PlannerMutex());
        m_plan = fftw_plan_dft_r2c_1d(size, m_in, reinterpret_cast<fftw_complex*>(m_out),
                                      FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
    }
    if (!m_plan) {
        fftw_free(m_in);
        fftw_free(m_out);
        throw std::runtime_error("CRealFft: FFTW made no plan for this size");
    }
}

CRealFft::~CRealFft() {
    {
        std::lock_guard lock(PlannerMutex());
        fftw_destroy_plan(static_cast<fftw_plan>(m_plan));
    }
    fftw_free(m_in);
    fftw_free(m_out);
}

void CRealFft::Execute() {
    fftw_execute(static_cast<fftw_plan>(m_plan));
}

CInverseRealFft::CInverseRealFft(int size) : m_size(size) {
    if (size < 2 || size % 2 != 0) {
        throw std::invalid_argument("CInverseRealFft: the size must be even");
    }
    m_in = reinterpret_cast<std::complex<double>*>(fftw_alloc_complex(size_t(Bins())));
    m_out = fftw_alloc_real(size_t(size));
    if (!m_in || !m_out) {
        fftw_free(m_in);
        fftw_free(m_out);
        throw std::bad_alloc();
    }
    {
        std::lock_guard lock(PlannerMutex());
        m_plan =
            fftw_plan_dft_c2r_1d(size, reinterpret_cast<fftw_complex*>(m_in), m_out, FFTW_ESTIMATE);
    }
    if (!m_plan) {
        fftw_free(m_in);
        fftw_free(m_out);
        throw std::runtime_error("CInverseRealFft: FFTW made no plan for this size");
    }
}

CInverseRealFft::~CInverseRealFft() {
    {
        std::lock_guard lock(PlannerMutex());
        fftw_destroy_plan(static_cast<fftw_plan>(m_plan));
    }
    fftw_free(m_in);
    fftw_free(m_out);
}

void CInverseRealFft::Execute() {
    fftw_execute(static_cast<fftw_plan>(m_plan));
}
