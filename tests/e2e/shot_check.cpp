// SPDX-License-Identifier: GPL-3.0-or-later
// Reads a screenshot of the Tonvault window and checks what a person would see in it.
//   shot_check stripe <png> <column> <tolerance>
//     the waterfall shows one bright vertical stripe at <column> (± tolerance) and no comparably
//     bright column away from it.
//   shot_check same <png> <bmp> <rows>
//     the sample picture box shows the top <rows> rows of the stored picture <bmp>, pixel for
//     pixel everywhere but under the sample's name.
//   shot_check changed <png> <png> <left> <top> <width> <height> <pixels>
//     at least <pixels> pixels differ between the two grabs inside the rectangle (in the client
//     area's pixels), e.g. text typed into a box shows.
// The window's client area is 803 x 491 and sits at the bottom of the grab, below the menu bar.
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kClientHeight = 491;
constexpr int kWaterLeft = 8, kWaterTop = 104, kWaterWidth = 780, kWaterHeight = 228;
constexpr int kSampleLeft = 8, kSampleTop = 328, kSampleHeight = 156;
// The sample's name is written over the picture in this rectangle, in the picture's pixels.
constexpr int kNameLeft = 0, kNameTop = 80, kNameWidth = 633, kNameHeight = 49;

bool InSampleName(int x, int y) {
    return x >= kNameLeft && x < kNameLeft + kNameWidth && y >= kNameTop &&
           y < kNameTop + kNameHeight;
}

double Luminance(QRgb c) {
    return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
}

int CheckStripe(const QImage& shot, int column, int tolerance) {
    const int top = shot.height() - kClientHeight + kWaterTop;
    std::vector<double> mean(kWaterWidth, 0.0);
    int rows = 0;
    for (int y = top + 2; y < top + kWaterHeight; ++y, ++rows)
        for (int x = 0; x < kWaterWidth; ++x) mean[x] += Luminance(shot.pixel(kWaterLeft + x, y));
    for (double& m : mean) m /= rows;

    // A strong tone saturates a few neighbouring columns to white: take the middle of the plateau.
    const double brightest = *std::max_element(mean.begin(), mean.end());
    int first = -1, last = -1;
    for (int x = 0; x < kWaterWidth; ++x)
        if (mean[x] >= brightest - 1.0) {
            if (first < 0) first = x;
            last = x;
        }
    const int peak = (first + last) / 2;
    std::printf("brightest plateau %d..%d\n", first, last);
    if (last - first > 2 * tolerance + 8) {
        std::printf("FAIL: the brightest columns are spread over %d..%d\n", first, last);
        return 1;
    }
    double elsewhere = 0.0;
    int elsewhereColumn = -1;
    for (int x = 0; x < kWaterWidth; ++x) {
        if (std::abs(x - column) <= tolerance + 8) continue; // the stripe's own skirt
        if (mean[x] > elsewhere) elsewhere = mean[x], elsewhereColumn = x;
    }
    std::printf("brightest column %d (mean luminance %.1f); brightest elsewhere %d (%.1f)\n", peak,
                mean[peak], elsewhereColumn, elsewhere);
    if (std::abs(peak - column) > tolerance) {
        std::printf("FAIL: expected the stripe at column %d ± %d\n", column, tolerance);
        return 1;
    }
    if (mean[peak] < 40.0 || elsewhere > mean[peak] / 2) {
        std::printf("FAIL: the stripe is not clearly brighter than the rest\n");
        return 1;
    }
    return 0;
}

int CheckSame(const QImage& shot, const QImage& stored, int rows) {
    const int top = shot.height() - kClientHeight + kSampleTop;
    rows = std::min({rows, kSampleHeight, stored.height()});
    const int columns = std::min(stored.width(), kWaterWidth);
    // A picture of one colour would match any blank picture box.
    const QRgb corner = stored.pixel(0, 0) & 0xffffff;
    bool uniform = true;
    for (int y = 0; y < rows && uniform; ++y)
        for (int x = 0; x < columns && uniform; ++x)
            uniform = (stored.pixel(x, y) & 0xffffff) == corner;
    if (uniform) {
        std::printf(
            "FAIL: the stored picture is of one colour; the comparison would prove nothing\n");
        return 1;
    }
    long differing = 0, compared = 0;
    int left = columns, right = -1, upper = rows, lower = -1;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x) {
            if (InSampleName(x, y)) continue;
            ++compared;
            if ((shot.pixel(kSampleLeft + x, top + y) & 0xffffff) ==
                (stored.pixel(x, y) & 0xffffff))
                continue;
            ++differing;
            left = std::min(left, x), right = std::max(right, x);
            upper = std::min(upper, y), lower = std::max(lower, y);
        }
    std::printf("%ld of %ld pixels differ (outside the sample's name)\n", differing, compared);
    if (differing != 0)
        std::printf("FAIL: differences within x %d..%d, y %d..%d of the sample picture\n", left,
                    right, upper, lower);
    return differing == 0 ? 0 : 1;
}

int CheckChanged(const QImage& a, const QImage& b, int left, int top, int width, int height,
                 int atLeast) {
    const int topA = a.height() - kClientHeight + top, topB = b.height() - kClientHeight + top;
    int changed = 0;
    for (int y = 0; y < height; ++y)
        for (int x = left; x < left + width; ++x)
            if (a.valid(x, topA + y) && b.valid(x, topB + y) &&
                (a.pixel(x, topA + y) & 0xffffff) != (b.pixel(x, topB + y) & 0xffffff))
                ++changed;
    std::printf("%d pixels changed in %dx%d at %d,%d\n", changed, width, height, left, top);
    if (changed < atLeast) std::printf("FAIL: fewer than %d\n", atLeast);
    return changed >= atLeast ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(
            stderr,
            "usage: shot_check stripe <png> <column> <tolerance> | same <png> <bmp> <rows> | "
            "changed <png> <png> <left> <top> <width> <height> <pixels>\n");
        return 2;
    }
    const std::string mode = argv[1];
    QImage shot(argv[2]);
    if (shot.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    shot = shot.convertToFormat(QImage::Format_RGB32);
    if (mode == "stripe" && argc == 5)
        return CheckStripe(shot, std::atoi(argv[3]), std::atoi(argv[4]));
    if (mode == "changed" && argc == 9) {
        QImage other(argv[3]);
        if (other.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", argv[3]);
            return 2;
        }
        return CheckChanged(shot, other.convertToFormat(QImage::Format_RGB32), std::atoi(argv[4]),
                            std::atoi(argv[5]), std::atoi(argv[6]), std::atoi(argv[7]),
                            std::atoi(argv[8]));
    }
    if (mode == "same" && argc == 5) {
        QImage stored(argv[3], "BMP");
        if (stored.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", argv[3]);
            return 2;
        }
        return CheckSame(shot, stored.convertToFormat(QImage::Format_RGB32), std::atoi(argv[4]));
    }
    std::fprintf(stderr, "bad arguments\n");
    return 2;
}
