#include "analyser/readouts.h"

#include "analyser/fFFT.h"
#include "analyser/rounding.h"

#include <cmath>
#include <cstdio>

namespace analyser {

double ReadoutFrequency(double low, double high, double x, int32_t waterLast) {
    const double difference = high - low;
    const double scaled = difference * x;
    return scaled / waterLast + low;
}

std::string ReadoutText(double f) {
    if (!std::isfinite(f)) return {};
    // + 0.0 turns a rounded -0 into 0, so -0.3 reads "0" and not "-0".
    const double whole = std::nearbyint(f) + 0.0;
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", whole);
    return text;
}

int32_t LabelLeft(double xPixels, int32_t spectrumLeft, int32_t labelWidth) {
    return rnd(xPixels + spectrumLeft - labelWidth / 2.0);
}

} // namespace analyser

// ---- the window's readout and picture clicks --------------------------------------------------

void fFFT::picSpectrum_MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, double x, double) {
    if (platform::VisibleFlag(lbBuffering)) {
        lbFreq->setCaption(QString());
        return;
    }
    // The pointer position arrives in single precision.
    const double column = static_cast<float>(x);
    const double f = analyser::ReadoutFrequency(nuRangeLow, nuRangeHigh, column, nuWaterLast);
    lbFreq->setCaption(QString::fromStdString(analyser::ReadoutText(f)));
    // Centred with its width after the caption change; it never moves up or down.
    lbFreq->move(analyser::LabelLeft(column, picSpectrum->x(), lbFreq->width()), lbFreq->y());
}

void fFFT::picWaterfall_MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, double x,
                                  double y) {
    picSpectrum_MouseMove(button, shift, x, y);
}

void fFFT::Form_MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, double, double) {
    lbFreq->setCaption(QString());
}

void fFFT::fr_MouseMove(int, Qt::MouseButtons, Qt::KeyboardModifiers, double, double) {
    lbFreq->setCaption(QString());
}

void fFFT::Frame1_MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, double, double) {
    lbFreq->setCaption(QString());
}

void fFFT::picSpectrum_GotFocus() {
    FocusWaterfall();
}

void fFFT::picWaterfall_Click() {
    Command3_Click();
}

void fFFT::Picture1_Click() {
    Command3_Click();
}
