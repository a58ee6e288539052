// The band-pass against the Butterworth band-pass's own magnitude and an independent
// zero-pole construction run in direct form, the recursive STA/LTA against its closed form,
// and the detector's settings.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "detect/bandpass.h"
#include "detect/detector_settings.h"
#include "detect/sta_lta.h"

namespace {

using cd = std::complex<double>;

struct TDesignCase {
    int Poles;
    double Low, High, Rate;
    double HighUsed;  // the upper corner after the clamp below Nyquist
};

// Poles 1 to 4; wide and narrow bands; an upper corner at and above Nyquist.
const TDesignCase Designs[] = {
    {2, 1, 10, 100, 10},  {1, 1, 10, 100, 10},    {3, 0.5, 5, 50, 5}, {4, 1, 10, 100, 10},
    {4, 2, 3, 200, 3},    {2, 1, 10, 20, 9},      {3, 0.1, 2, 10, 2}, {1, 5, 400, 1000, 400},
    {2, 1, 100, 100, 45}, {4, 0.05, 0.2, 1, 0.2},
};

double Prewarp(double hz, double rate) {
    return 2 * rate * std::tan(std::numbers::pi * hz / rate);
}

// The analog Butterworth band-pass's squared magnitude at the pre-warped frequency of `hz`.
double ReferencePower(const TDesignCase& d, double hz) {
    const double w = Prewarp(hz, d.Rate);
    const double w1 = Prewarp(d.Low, d.Rate), w2 = Prewarp(d.HighUsed, d.Rate);
    const double x = (w * w - w1 * w2) / (w * (w2 - w1));
    return 1 / (1 + std::pow(x * x, d.Poles));
}

TEST(Bandpass, DesignsMatchTheButterworthMagnitudeAndAreMinusThreeDecibelsAtTheCorners) {
    for (const TDesignCase& d : Designs) {
        SCOPED_TRACE(testing::Message()
                     << d.Poles << " poles, " << d.Low << " to " << d.High << " Hz at " << d.Rate);
        auto sections = DesignBandpass({d.Low, d.High, d.Poles}, d.Rate);
        ASSERT_TRUE(sections) << sections.Error().Text;
        EXPECT_EQ(sections->size(), static_cast<size_t>(d.Poles));
        for (const TBiquad& q : *sections) {
            // Poles inside the unit circle: the filter is stable.
            EXPECT_LT(std::fabs(q.A2), 1);
            EXPECT_LT(std::fabs(q.A1), 1 + q.A2);
        }
        EXPECT_NEAR(std::norm(Response(*sections, d.Low, d.Rate)), 0.5, 1e-9);
        EXPECT_NEAR(std::norm(Response(*sections, d.HighUsed, d.Rate)), 0.5, 1e-9);
        // Unity gain at the centre: the frequency whose pre-warped value is the geometric mean.
        const double centre =
            d.Rate / std::numbers::pi *
            std::atan(std::sqrt(Prewarp(d.Low, d.Rate) * Prewarp(d.HighUsed, d.Rate)) /
                      (2 * d.Rate));
        EXPECT_NEAR(std::abs(Response(*sections, centre, d.Rate)), 1, 1e-9);
        for (int i = 1; i < 200; ++i) {
            const double hz = d.Rate / 2 * i / 200.0;
            EXPECT_NEAR(std::norm(Response(*sections, hz, d.Rate)), ReferencePower(d, hz), 1e-9)
                << hz << " Hz";
        }
    }
}

// The same transfer function built independently: the analog band-pass's poles mapped to z by
// the bilinear transform, N zeros at z = 1 and N at z = -1, unity gain at the centre; expanded
// into one polynomial each and run as a direct-form difference equation. The direct form of a
// narrow band is badly conditioned, so it is built and run in long double.
using ld = long double;
using cld = std::complex<long double>;

struct TDirectForm {
    std::vector<ld> B, A;
};

std::vector<cld> Multiply(const std::vector<cld>& p, cld root) {
    // p(z^-1) x (1 - root z^-1)
    std::vector<cld> out(p.size() + 1, 0);
    for (size_t i = 0; i < p.size(); ++i) {
        out[i] += p[i];
        out[i + 1] -= root * p[i];
    }
    return out;
}

TDirectForm ZeroPoleDesign(const TDesignCase& d) {
    const ld pi = std::numbers::pi_v<ld>;
    const ld rate = d.Rate;
    const ld k = 2 * rate;
    const ld w1 = k * std::tan(pi * d.Low / rate), w2 = k * std::tan(pi * d.HighUsed / rate);
    const ld b = w2 - w1, w0sq = w1 * w2;
    std::vector<cld> a = {1}, num = {1};
    for (int i = 0; i < d.Poles; ++i) {
        const cld p = std::polar<ld>(1, pi * (2 * i + d.Poles + 1) / (2 * d.Poles));
        const cld root = std::sqrt(p * p * b * b / ld(4) - w0sq);
        for (const cld s : {p * b / ld(2) + root, p * b / ld(2) - root}) {
            a = Multiply(a, (k + s) / (k - s));
        }
        num = Multiply(Multiply(num, 1), -1);
    }
    TDirectForm f;
    for (const cld& c : a) {
        f.A.push_back(c.real());
    }
    for (const cld& c : num) {
        f.B.push_back(c.real());
    }
    // Scaled to unity gain at the centre frequency.
    const ld centre = std::atan(std::sqrt(w0sq) / k) * 2;  // radians per sample
    const cld zi = std::polar<ld>(1, -centre);
    cld nb = 0, na = 0, zn = 1;
    for (size_t i = 0; i < f.A.size(); ++i, zn *= zi) {
        nb += f.B[i] * zn;
        na += f.A[i] * zn;
    }
    const ld gain = std::abs(na / nb);
    for (ld& x : f.B) {
        x *= gain;
    }
    return f;
}

TEST(Bandpass, SectionsEqualTheDirectFormOfTheZeroPoleDesign) {
    std::mt19937_64 rng(7);
    std::normal_distribution<double> noise(0, 1000);
    std::vector<double> input(3000);
    for (size_t i = 0; i < input.size(); ++i) {
        // Noise, a step and an impulse.
        input[i] = noise(rng) + (i >= 1000 ? 50000 : 0) + (i == 2000 ? 1e6 : 0);
    }
    for (const TDesignCase& d : Designs) {
        SCOPED_TRACE(testing::Message()
                     << d.Poles << " poles, " << d.Low << " to " << d.High << " Hz at " << d.Rate);
        auto sections = DesignBandpass({d.Low, d.High, d.Poles}, d.Rate);
        ASSERT_TRUE(sections);
        TBandpassFilter filter(*sections);
        const TDirectForm direct = ZeroPoleDesign(d);
        const size_t order = direct.A.size() - 1;
        ASSERT_EQ(order, static_cast<size_t>(2 * d.Poles));
        std::vector<ld> y(input.size(), 0);
        double worst = 0, peak = 0;
        for (size_t n = 0; n < input.size(); ++n) {
            ld acc = 0;
            for (size_t i = 0; i <= order && i <= n; ++i) {
                acc += direct.B[i] * input[n - i];
                if (i > 0) {
                    acc -= direct.A[i] * y[n - i];
                }
            }
            y[n] = acc;
            const double cascade = filter.Step(input[n]);
            worst = std::max(worst, static_cast<double>(std::fabs(cascade - acc)));
            peak = std::max(peak, static_cast<double>(std::fabs(acc)));
        }
        EXPECT_GT(peak, 100.0);
        EXPECT_LT(worst, 1e-6 * peak);
    }
}

TEST(Bandpass, SettledOnALevelTheOutputStaysZero) {
    auto sections = DesignBandpass({1, 10, 3}, 100);
    ASSERT_TRUE(sections);
    TBandpassFilter settled(*sections), cold(*sections);
    settled.Settle(123456);
    double settledPeak = 0, coldPeak = 0;
    for (int i = 0; i < 500; ++i) {
        settledPeak = std::max(settledPeak, std::fabs(settled.Step(123456)));
        coldPeak = std::max(coldPeak, std::fabs(cold.Step(123456)));
    }
    EXPECT_LT(settledPeak, 1e-6);
    EXPECT_GT(coldPeak, 10000);  // without it the offset rings through
}

TEST(Bandpass, ImpossibleDesignsAreRefused) {
    struct TCase {
        TBandpassDesign Design;
        double Rate;
        const char* Says;
    };
    const TCase cases[] = {
        {{1, 10, 0}, 100, "1 to 4 poles"},
        {{1, 10, 5}, 100, "1 to 4 poles"},
        {{0, 10, 2}, 100, "lower corner"},
        {{-1, 10, 2}, 100, "lower corner"},
        {{NAN, 10, 2}, 100, "lower corner"},
        {{10, 10, 2}, 100, "above its lower corner"},
        {{5, 1, 2}, 100, "above its lower corner"},
        {{1, INFINITY, 2}, 100, "above its lower corner"},
        {{1, 10, 2}, 0, "sample rate"},
        {{1, 10, 2}, 2, "does not fit below 0.9 Hz"},
        {{50, 60, 2}, 100, "does not fit below 45 Hz"},
    };
    for (const TCase& c : cases) {
        auto sections = DesignBandpass(c.Design, c.Rate);
        ASSERT_FALSE(sections) << c.Says;
        EXPECT_NE(sections.Error().Text.find(c.Says), std::string::npos) << sections.Error().Text;
    }
}

// The recursion's closed form: after the mean of the first n samples, each further sample
// weighs 1/n and every earlier value shrinks by 1 - 1/n per sample.
double DirectAverage(const std::vector<double>& cf, size_t upTo, size_t n) {
    if (upTo <= n) {
        double sum = 0;
        for (size_t i = 0; i < upTo; ++i) {
            sum += cf[i];
        }
        return sum / static_cast<double>(upTo);
    }
    const double c = 1.0 / static_cast<double>(n);
    double value = DirectAverage(cf, n, n) * std::pow(1 - c, static_cast<double>(upTo - n));
    for (size_t k = n; k < upTo; ++k) {
        value += c * std::pow(1 - c, static_cast<double>(upTo - 1 - k)) * cf[k];
    }
    return value;
}

TEST(StaLta, RecursionEqualsItsDirectComputation) {
    std::mt19937_64 rng(3);
    std::normal_distribution<double> noise(0, 1);
    std::vector<double> x(4000);
    for (size_t i = 0; i < x.size(); ++i) {
        x[i] = noise(rng) * (i >= 2500 && i < 2700 ? 20 : 1);  // a burst
    }
    std::vector<double> cf;
    for (double v : x) {
        cf.push_back(v * v);
    }
    struct TLengths {
        size_t Sta, Lta;
    };
    for (const TLengths l :
         {TLengths{10, 300}, TLengths{100, 3000}, TLengths{1, 5}, TLengths{50, 51}}) {
        SCOPED_TRACE(testing::Message() << "STA " << l.Sta << ", LTA " << l.Lta);
        TStaLta trigger(static_cast<double>(l.Sta), static_cast<double>(l.Lta));
        for (size_t i = 0; i < x.size(); ++i) {
            const double ratio = trigger.Step(x[i]);
            EXPECT_EQ(trigger.Ready(), i + 1 >= l.Lta) << i;
            if (i % 97 == 0 || i == l.Lta - 1 || i == l.Lta || (i >= 2500 && i < 2520)) {
                const double sta = DirectAverage(cf, i + 1, l.Sta);
                const double lta = DirectAverage(cf, i + 1, l.Lta);
                EXPECT_NEAR(trigger.Sta(), sta, 1e-9 * sta) << i;
                EXPECT_NEAR(trigger.Lta(), lta, 1e-9 * lta) << i;
                EXPECT_NEAR(ratio, sta / lta, 1e-9 * sta / lta) << i;
            }
        }
    }
}

TEST(DetectorSettings, DefaultsAreValidAndEachBadValueIsNamed) {
    EXPECT_TRUE(ValidateDetectorSettings(TDetectorSettings{}).Ok());
    struct TCase {
        void (*Change)(TDetectorSettings&);
        const char* Says;
    };
    const TCase cases[] = {
        {[](TDetectorSettings& s) { s.Band.Poles = 5; }, "poles"},
        {[](TDetectorSettings& s) { s.Band.LowHz = 0; }, "lower corner"},
        {[](TDetectorSettings& s) { s.Band.HighHz = 0.5; }, "upper corner"},
        {[](TDetectorSettings& s) { s.StaSeconds = 0; }, "STA"},
        {[](TDetectorSettings& s) { s.LtaSeconds = 1; }, "STA"},
        {[](TDetectorSettings& s) { s.LtaSeconds = 4000; }, "3600"},
        {[](TDetectorSettings& s) { s.TriggerOff = 4; }, "trigger-on"},
        {[](TDetectorSettings& s) { s.TriggerOff = 0; }, "trigger-off"},
        {[](TDetectorSettings& s) { s.Channels = 0; }, "channels"},
        {[](TDetectorSettings& s) { s.Channels = 0x40; }, "channels"},
        {[](TDetectorSettings& s) { s.Channels = 0x1; }, "coincidence"},
        {[](TDetectorSettings& s) { s.Coincidence = 0; }, "coincidence"},
        {[](TDetectorSettings& s) { s.Coincidence = 7; }, "coincidence"},
        {[](TDetectorSettings& s) { s.HoldSeconds = -1; }, "hold"},
        {[](TDetectorSettings& s) { s.HoldSeconds = 601; }, "hold"},
    };
    for (const TCase& c : cases) {
        TDetectorSettings s;
        c.Change(s);
        const TStatus status = ValidateDetectorSettings(s);
        ASSERT_FALSE(status.Ok()) << c.Says;
        EXPECT_NE(status.Error().Text.find(c.Says), std::string::npos) << status.Error().Text;
    }
    // The band-pass off: its corners are not looked at.
    TDetectorSettings off;
    off.BandpassOn = false;
    off.Band.LowHz = 0;
    EXPECT_TRUE(ValidateDetectorSettings(off).Ok());
}

}  // namespace
