#include "audio/stream/alsa_stream_pcm.h"

#include "audio/stream/alsa_stream.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {

// Capture keeps a period more slack than playback, as the wave layer does: a slow tap should
// cost a late period, not an overrun.
constexpr int kCapturePeriods = 4;
constexpr int kPlaybackPeriods = 3;
// Neither the plug layer's rate converter nor its format converter: the device gives the rate and
// depth asked or the open fails. Non-blocking, so that Stop is never stuck behind a transfer.
constexpr int kOpenMode = SND_PCM_NONBLOCK | SND_PCM_NO_AUTO_RESAMPLE | SND_PCM_NO_AUTO_FORMAT;

struct EncodingChoice {
    SampleEncoding encoding;
    snd_pcm_format_t alsa;
};

// The encodings that serve a format, the first preferred: s24 in 4 bytes is what most cards
// carry natively, packed s24 is what some USB ones do.
std::vector<EncodingChoice> Choices(SampleFormat format) {
    switch (format) {
    case SampleFormat::S16:
        return {{SampleEncoding::S16, SND_PCM_FORMAT_S16_LE}};
    case SampleFormat::S24:
        return {{SampleEncoding::S24In4, SND_PCM_FORMAT_S24_LE},
                {SampleEncoding::S24In3, SND_PCM_FORMAT_S24_3LE}};
    case SampleFormat::S32:
        return {{SampleEncoding::S32, SND_PCM_FORMAT_S32_LE}};
    case SampleFormat::Float:
        return {{SampleEncoding::Float, SND_PCM_FORMAT_FLOAT_LE}};
    }
    return {};
}

snd_pcm_stream_t Direction(bool capture) {
    return capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK;
}

// What is left of a hw_params after the choices every stream makes: interleaved stereo, no
// resampling.
int RestrictCommon(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, const char** step) {
    int err;
    *step = "cannot read the device's capabilities";
    if ((err = snd_pcm_hw_params_any(pcm, hw)) < 0)
        return err;
    *step = "cannot use interleaved read/write access";
    if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
        return err;
    *step = "cannot use 2 channels";
    if ((err = snd_pcm_hw_params_set_channels(pcm, hw, kStreamChannels)) < 0)
        return err;
    *step = "cannot turn resampling off";
    return snd_pcm_hw_params_set_rate_resample(pcm, hw, 0);
}

// Configures `pcm` at `format`; *refused when the device does not offer its rate or format (the
// caller then names what it does offer).
int Configure(snd_pcm_t* pcm, bool capture, StreamFormat format, int periodFrames,
              SampleEncoding* encoding, const char** step, bool* refused) {
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    *refused = false;
    int err = RestrictCommon(pcm, hw, step);
    if (err < 0)
        return err;
    err = -EINVAL;
    for (const EncodingChoice& choice : Choices(format.format)) {
        if ((err = snd_pcm_hw_params_set_format(pcm, hw, choice.alsa)) == 0) {
            *encoding = choice.encoding;
            break;
        }
    }
    if (err < 0 || (err = snd_pcm_hw_params_set_rate(pcm, hw, unsigned(format.rate_hz), 0)) < 0) {
        *refused = true;
        return err;
    }
    snd_pcm_uframes_t period = snd_pcm_uframes_t(periodFrames);
    int dir = 0;
    *step = "cannot set the period";
    if ((err = snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir)) < 0)
        return err;
    snd_pcm_uframes_t buffer = period * (capture ? kCapturePeriods : kPlaybackPeriods);
    *step = "cannot set the buffer size";
    if ((err = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer)) < 0)
        return err;
    *step = "cannot apply the hardware parameters";
    if ((err = snd_pcm_hw_params(pcm, hw)) < 0)
        return err;

    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    *step = "cannot set the software parameters";
    if ((err = snd_pcm_sw_params_current(pcm, sw)) < 0)
        return err;
    // Playback starts once its first period is written; capture is started by hand.
    if ((err = snd_pcm_sw_params_set_start_threshold(pcm, sw, capture ? buffer : period)) < 0)
        return err;
    if ((err = snd_pcm_sw_params_set_avail_min(pcm, sw, period)) < 0)
        return err;
    return snd_pcm_sw_params(pcm, sw);
}

} // namespace

int OpenStreamPcm(const std::string& name, bool capture, StreamFormat format, StreamPcm* out,
                  std::string* error, bool* refused) {
    *refused = false;
    int err = snd_pcm_open(&out->pcm, name.c_str(), Direction(capture), kOpenMode);
    if (err < 0) {
        out->pcm = nullptr;
        *error =
            "cannot open '" + name + "' for " + DirectionName(capture) + ": " + snd_strerror(err);
        return err;
    }
    const char* step = "";
    err = Configure(out->pcm, capture, format, AlsaStreamPeriodFrames(format.rate_hz),
                    &out->encoding, &step, refused);
    if (err < 0) {
        snd_pcm_close(out->pcm);
        out->pcm = nullptr;
        *error = "'" + name + "' " + DirectionName(capture) + " " + step + ": " + snd_strerror(err);
    }
    return err;
}

int AlsaStreamPeriodFrames(int rate_hz) {
    return 4096 * std::max(1, rate_hz / 44100);
}

StreamOffer QueryAlsaOffer(const std::string& name) {
    std::vector<bool> rateOk(kStreamRates.size(), true);
    constexpr SampleFormat kFormats[] = {SampleFormat::S16, SampleFormat::S24, SampleFormat::S32,
                                         SampleFormat::Float};
    std::vector<bool> formatOk(std::size(kFormats), true);
    for (bool capture : {true, false}) {
        snd_pcm_t* pcm = nullptr;
        if (snd_pcm_open(&pcm, name.c_str(), Direction(capture), kOpenMode) < 0) {
            return {};
        }
        snd_pcm_hw_params_t* hw;
        snd_pcm_hw_params_alloca(&hw);
        const char* step = "";
        if (RestrictCommon(pcm, hw, &step) < 0) {
            snd_pcm_close(pcm);
            return {};
        }
        for (size_t i = 0; i < kStreamRates.size(); ++i) {
            rateOk[i] = rateOk[i] &&
                        snd_pcm_hw_params_test_rate(pcm, hw, unsigned(kStreamRates[i]), 0) == 0;
        }
        for (size_t i = 0; i < std::size(kFormats); ++i) {
            bool any = false;
            for (const EncodingChoice& choice : Choices(kFormats[i])) {
                any = any || snd_pcm_hw_params_test_format(pcm, hw, choice.alsa) == 0;
            }
            formatOk[i] = formatOk[i] && any;
        }
        snd_pcm_close(pcm);
    }
    StreamOffer offer;
    for (size_t i = 0; i < kStreamRates.size(); ++i) {
        if (rateOk[i]) {
            offer.rates_hz.push_back(kStreamRates[i]);
        }
    }
    for (size_t i = 0; i < std::size(kFormats); ++i) {
        if (formatOk[i]) {
            offer.formats.push_back(kFormats[i]);
        }
    }
    return offer;
}
