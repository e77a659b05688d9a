#include "analyser/sample_library.h"

#include "analyser/fFFT.h"
#include "platform/file_names.h"

#include <QBuffer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace analyser {

namespace {

bool IsDirectory(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

// A hidden, unique name in the target's folder, so the rename stays on one file system and
// a half-written file never shows up in the list.
fs::path TemporaryBeside(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    const std::string name = ".tonvault-save-" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter.fetch_add(1)) + ".tmp";
    return target.parent_path() / name;
}

// A temporary file holding bytes beside target, removed again unless Keep() is called.
class StagedFile {
public:
    StagedFile(const fs::path& target, std::span<const char> bytes, const FileWriter& writer)
        : path_(TemporaryBeside(target)) {
        written_ = writer(path_, bytes);
    }
    ~StagedFile() {
        if (!kept_) {
            std::error_code ignored;
            fs::remove(path_, ignored);
        }
    }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    bool Written() const { return written_; }
    const fs::path& Path() const { return path_; }
    void Keep() { kept_ = true; }

private:
    fs::path path_;
    bool written_ = false;
    bool kept_ = false;
};

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

bool IsTruncatedBmp(const fs::path& file) {
    std::error_code ec;
    const auto actual = fs::file_size(file, ec);
    if (ec) return true;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    unsigned char head[6] = {};
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    if (got != static_cast<ssize_t>(sizeof head) || head[0] != 'B' || head[1] != 'M') return false;
    const uint32_t declared =
        head[2] | (head[3] << 8) | (head[4] << 16) | (static_cast<uint32_t>(head[5]) << 24);
    return declared > actual;
}

} // namespace

SampleFolders SampleFoldersFor(const fs::path& base) {
    return {base / "metals" / "", base / "metals" / "data" / ""};
}

bool IsSafeSampleName(const std::string& name) {
    // A leading dot would make a hidden file: saved, yet never listed, and in the namespace of
    // our own temporary files.
    if (name.empty() || name.front() == '.') return false;
    constexpr std::string_view kForbidden = "/\\<>:\"|?*";
    for (const char ch : name) {
        const auto u = static_cast<unsigned char>(ch);
        if (u < 0x20 || u == 0x7F) return false;
        if (kForbidden.find(ch) != std::string_view::npos) return false;
    }
    return true;
}

std::vector<std::string> ListSamples(const fs::path& dataFolder) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dataFolder, ec);
    if (ec) return names;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        std::string name = it->path().filename().string();
        if (!IsSafeSampleName(name)) continue;
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), platform::FileNameLess);
    return names;
}

std::vector<char> EncodeBmp24(const QImage& picture) {
    // Qt writes an opaque 32-bit image as an uncompressed 24-bit bottom-up BMP; it is encoded in
    // memory so that it can be written through the staged, injectable file steps below.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) ||
        !picture.convertToFormat(QImage::Format_RGB32).save(&buffer, "BMP"))
        return {};
    return std::vector<char>(bytes.cbegin(), bytes.cend());
}

bool WriteNewFile(const fs::path& path, std::span<const char> bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    // The old file is replaced only by a copy that is known to be on disk.
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    return ok;
}

bool SaveSample(const SampleFolders& folders, const std::string& name, const QImage& picture,
                const FileWriter& writer) {
    if (!IsSafeSampleName(name) || picture.isNull()) return false;
    if (!IsDirectory(folders.pictures) || !IsDirectory(folders.data)) return false;

    const fs::path picturePath = folders.pictures / name;
    const fs::path markerPath = folders.data / name;
    static constexpr char kMarker[] = {'n', 'u', 'l', 'l', '\r', '\n'};

    const std::vector<char> bmp = EncodeBmp24(picture);
    if (bmp.empty()) return false;
    // Both files are complete on disk before anything old is touched; what can still fail
    // afterwards is a rename, and that is undone so the old sample survives whole.
    StagedFile newPicture(picturePath, bmp, writer);
    if (!newPicture.Written()) return false;
    StagedFile newMarker(markerPath, kMarker, writer);
    if (!newMarker.Written()) return false;

    std::error_code ec;
    const fs::path backup = TemporaryBeside(picturePath);
    const bool hadPicture = Exists(picturePath);
    if (hadPicture) {
        fs::create_hard_link(picturePath, backup, ec);
        if (ec) {
            ec.clear();
            fs::copy_file(picturePath, backup, ec);
            if (ec) {
                std::error_code ignored;
                fs::remove(backup, ignored);
                return false;
            }
        }
    }

    fs::rename(newPicture.Path(), picturePath, ec);
    if (ec) {
        std::error_code ignored;
        if (hadPicture) fs::remove(backup, ignored);
        return false;
    }
    newPicture.Keep();

    fs::rename(newMarker.Path(), markerPath, ec);
    std::error_code ignored;
    if (ec) {
        if (hadPicture) {
            fs::rename(backup, picturePath, ignored);
        } else {
            fs::remove(picturePath, ignored);
        }
        return false;
    }
    newMarker.Keep();
    if (hadPicture) fs::remove(backup, ignored);
    return true;
}

bool DeleteSample(const SampleFolders& folders, const std::string& name) {
    if (name == kProtectedSample || !IsSafeSampleName(name)) return false;
    const fs::path marker = folders.data / name;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(marker, ec);
    if (ec || !(fs::is_regular_file(status) || fs::is_symlink(status))) return false;
    return fs::remove(marker, ec) && !ec;
}

std::optional<QImage> LoadSamplePicture(const SampleFolders& folders, const std::string& name) {
    if (!IsSafeSampleName(name)) return std::nullopt;
    const fs::path file = folders.pictures / name;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    // Qt fills the missing rows of a cut-off BMP instead of failing; such a file is treated
    // as unreadable so the picture on show is kept rather than replaced by a half-black one.
    if (IsTruncatedBmp(file)) return std::nullopt;
    QImage image;
    if (!image.load(QString::fromStdString(file.string())) || image.isNull()) return std::nullopt;
    return image;
}

} // namespace analyser

// ---- the window's library commands ------------------------------------------------------------

analyser::SampleFolders fFFT::Folders() const {
    return analyser::SampleFoldersFor(fs::path(baseFolder_.toStdString()));
}

void fFFT::Command1_Click() {
    // The name exactly as typed; SaveSample refuses what is not a bare file name.
    const std::string name = Text1->Text().toStdString();
    analyser::SaveSample(Folders(), name, picWaterfall->Image());
    File1->Refresh();
    FocusWaterfall();
}

void fFFT::File1_Click() {
    const QString name = File1->FileName();
    Text1->setText(name);
    Label1->setCaption(name + " Sample");
    // Loaded through the library first: a missing, unsafe, cut-off or foreign file leaves the
    // picture on show as it is.
    if (const auto picture = analyser::LoadSamplePicture(Folders(), name.toStdString()))
        Picture1->SetPicture(*picture);
}

void fFFT::Command2_Click() {
    const std::string name = File1->FileName().toStdString();
    if (name != analyser::kProtectedSample) {
        analyser::DeleteSample(Folders(), name);
        File1->Refresh();
    }
    FocusWaterfall();
}
