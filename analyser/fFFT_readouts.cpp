// SPDX-License-Identifier: GPL-3.0-or-later
// The window's readout and picture clicks: the frequency under the pointer, over the readout
// module (readouts.h).
#include "analyser/fFFT.h"

#include "analyser/readouts.h"

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
