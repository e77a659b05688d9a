// SPDX-License-Identifier: GPL-3.0-or-later
// Reads a screenshot of the Tonvault window and checks what a person would see in it.
//   shot_check stripe <png> <column> <tolerance>
//     the waterfall shows one bright vertical stripe at <column> (± tolerance) and no comparably
//     bright column away from it.
//   shot_check stripe-scaled <png> <column> <tolerance> <scale>
//     the same for a grab in physical pixels of a window drawn at an output scale (a Wayland
//     screenshot at scale 1.5 or 2): each logical pixel is read from the middle of its square.
//   shot_check wm-icon <xprop output> <png>
//     the window's _NET_WM_ICON (xprop -notype 32c _NET_WM_ICON) holds a picture of the png's
//     size with the png's pixels, i.e. the window offers our icon, not the toolkit's.
//   shot_check same <png> <bmp> <rows>
//     the sample picture box shows the top <rows> rows of the stored picture <bmp>, pixel for
//     pixel everywhere but under the sample's name.
//   shot_check blank <png>
//     the sample picture box shows no picture: outside the sample's name only its black and a
//     one-line note in the name's magenta (shades of it where the text is smoothed).
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

int CheckBlank(const QImage& shot) {
    const int top = shot.height() - kClientHeight + kSampleTop;
    long note = 0, foreign = 0;
    int upper = kSampleHeight, lower = -1;
    for (int y = 0; y < kSampleHeight; ++y)
        for (int x = 0; x < kWaterWidth; ++x) {
            if (InSampleName(x, y)) continue;
            const QRgb c = shot.pixel(kSampleLeft + x, top + y) & 0xffffff;
            if (c == 0) continue;
            // Magenta smoothed over black keeps no green, whatever the smoothing.
            if (qGreen(c) != 0) {
                ++foreign;
                continue;
            }
            ++note;
            upper = std::min(upper, y), lower = std::max(lower, y);
        }
    std::printf("%ld note pixels in rows %d..%d, %ld pixels of another colour\n", note, upper,
                lower, foreign);
    if (foreign != 0) {
        std::printf("FAIL: the sample picture box shows a picture\n");
        return 1;
    }
    if (note < 40 || lower - upper >= 20) {
        std::printf("FAIL: no one-line note in the empty sample picture box\n");
        return 1;
    }
    return 0;
}

// _NET_WM_ICON is a run of pictures, each its width, its height and then its ARGB pixels row by
// row; xprop writes them as decimal numbers after an equals sign.
int CheckWindowIcon(const char* xpropFile, const QImage& icon) {
    std::FILE* f = std::fopen(xpropFile, "r");
    if (!f) {
        std::fprintf(stderr, "cannot read %s\n", xpropFile);
        return 2;
    }
    std::vector<unsigned long> values;
    int c = 0;
    while ((c = std::fgetc(f)) != EOF && c != '=') {
    }
    unsigned long v = 0;
    while (std::fscanf(f, " %lu ,", &v) == 1) values.push_back(v);
    std::fclose(f);
    std::string sizes;
    for (std::size_t at = 0; at + 2 <= values.size();) {
        const unsigned long w = values[at], h = values[at + 1];
        if (w == 0 || h == 0 || at + 2 + w * h > values.size()) break;
        char size[48];
        std::snprintf(size, sizeof size, " %lux%lu", w, h);
        sizes += size;
        if (w == static_cast<unsigned long>(icon.width()) &&
            h == static_cast<unsigned long>(icon.height())) {
            // The toolkit premultiplies and back again: edge pixels of partial alpha may move
            // by a step or two.
            long differing = 0;
            int worst = 0;
            for (int y = 0; y < icon.height(); ++y)
                for (int x = 0; x < icon.width(); ++x) {
                    const auto offered = static_cast<QRgb>(values[at + 2 + y * w + x]);
                    const QRgb ours = icon.pixel(x, y);
                    const int step = std::max({std::abs(qAlpha(offered) - qAlpha(ours)),
                                               std::abs(qRed(offered) - qRed(ours)),
                                               std::abs(qGreen(offered) - qGreen(ours)),
                                               std::abs(qBlue(offered) - qBlue(ours))});
                    worst = std::max(worst, step);
                    if (step > 2) ++differing;
                }
            std::printf("window icons:%s; %ld of %d pixels of the %lux%lu one differ by more "
                        "than 2 (at most %d)\n",
                        sizes.c_str(), differing, icon.width() * icon.height(), w, h, worst);
            return differing == 0 ? 0 : 1;
        }
        at += 2 + w * h;
    }
    std::printf("FAIL: the window offers no %dx%d icon (it offers:%s)\n", icon.width(),
                icon.height(), sizes.empty() ? " none" : sizes.c_str());
    return 1;
}

// The logical pixels of a grab made at an output scale, each taken from the middle of its
// scale x scale square, so that a one-pixel stripe stays one pixel wide and keeps its column.
QImage LogicalPixels(const QImage& shot, double scale) {
    const auto physical = [scale](int logical) {
        return static_cast<int>((logical + 0.5) * scale);
    };
    QImage logical(static_cast<int>(shot.width() / scale), static_cast<int>(shot.height() / scale),
                   QImage::Format_RGB32);
    for (int y = 0; y < logical.height(); ++y)
        for (int x = 0; x < logical.width(); ++x)
            logical.setPixel(x, y, shot.pixel(physical(x), physical(y)));
    return logical;
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
            "usage: shot_check stripe <png> <column> <tolerance> | stripe-scaled <png> <column> "
            "<tolerance> <scale> | wm-icon <xprop output> <png> | same <png> <bmp> <rows> | "
            "blank <png> | changed <png> <png> <left> <top> <width> <height> <pixels>\n");
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "wm-icon" && argc == 4) {
        const QImage icon(argv[3]);
        if (icon.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", argv[3]);
            return 2;
        }
        return CheckWindowIcon(argv[2], icon.convertToFormat(QImage::Format_ARGB32));
    }
    QImage shot(argv[2]);
    if (shot.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    shot = shot.convertToFormat(QImage::Format_RGB32);
    if (mode == "stripe" && argc == 5)
        return CheckStripe(shot, std::atoi(argv[3]), std::atoi(argv[4]));
    if (mode == "blank" && argc == 3) return CheckBlank(shot);
    if (mode == "stripe-scaled" && argc == 6) {
        const double scale = std::atof(argv[5]);
        if (!(scale >= 1) || shot.width() < scale || shot.height() < scale) {
            std::fprintf(stderr, "bad scale %s for a %d x %d grab\n", argv[5], shot.width(),
                         shot.height());
            return 2;
        }
        return CheckStripe(LogicalPixels(shot, scale), std::atoi(argv[3]), std::atoi(argv[4]));
    }
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
