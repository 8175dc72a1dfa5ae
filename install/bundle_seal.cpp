#include "install/bundle_seal.h"

#include <cstring>
#include <memory>
#include <new>

#include "qv_product.h"
#include "util/path.h"

namespace {

// The seal's layout: a 16-byte marker (for the tool that finds the block in
// the file; not read here), then the three digests.
constexpr size_t kMarkerSize = 16;
constexpr size_t kSealSize = kMarkerSize + 3 * sizeof(Sha256Digest);

bool IsZero(const Sha256Digest& digest) {
    for (unsigned char b : digest)
        if (b != 0) return false;
    return true;
}

// Whether `linked` is the held file `held` (whose information before the
// link was made is `before`): it has the held file's index, and the held file
// gained the one name made meanwhile. Volume serial numbers are not compared:
// Wine gives every drive letter its own, though two letters may lead to one
// file system.
bool IsHeldFile(HANDLE linked, HANDLE held, const BY_HANDLE_FILE_INFORMATION& before) {
    BY_HANDLE_FILE_INFORMATION staged = {}, after = {};
    if (!::GetFileInformationByHandle(linked, &staged) || !::GetFileInformationByHandle(held, &after)) return false;
    return staged.nFileIndexHigh == before.nFileIndexHigh && staged.nFileIndexLow == before.nFileIndexLow &&
           after.nNumberOfLinks == before.nNumberOfLinks + 1;
}

}  // namespace

bool ReadBundleSeal(HMODULE module, BundleSeal* seal) {
    if (!seal) return false;
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(QV_SEAL_RESOURCE_ID), RT_RCDATA);
    if (!found || ::SizeofResource(module, found) != kSealSize) return false;
    HGLOBAL loaded = ::LoadResource(module, found);
    const auto* bytes = static_cast<const unsigned char*>(loaded ? ::LockResource(loaded) : nullptr);
    if (!bytes) return false;
    bytes += kMarkerSize;
    for (Sha256Digest* digest : {&seal->archive, &seal->archiveLibrary, &seal->uiLibrary}) {
        std::memcpy(digest->data(), bytes, digest->size());
        bytes += digest->size();
    }
    return true;
}

UniqueFile OpenHeld(const std::wstring& path) {
    if (path.empty()) return UniqueFile();
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!file || !::GetFileInformationByHandle(file.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return UniqueFile();
    return file;
}

bool FileMatches(HANDLE file, const Sha256Digest& expected) {
    Sha256Digest digest{};
    return !IsZero(expected) && Sha256OfFile(file, &digest) && digest == expected;
}

UniqueFile OpenChecked(const std::wstring& path, const Sha256Digest& expected) {
    UniqueFile file = OpenHeld(path);
    // Checked once the file is held: from then on its name cannot be taken
    // by another file.
    if (!file || !IsPlainFile(path) || !FileMatches(file.get(), expected)) return UniqueFile();
    return file;
}

UniqueFile CopyChecked(const std::wstring& source, const std::wstring& target, const Sha256Digest& expected) {
    if (!CopyPath(source, target)) return UniqueFile();
    UniqueFile copy = OpenChecked(target, expected);
    if (!copy) ::DeleteFileW(target.c_str());
    return copy;
}

// --- CFileDigestTask -----------------------------------------------------------

CFileDigestTask::~CFileDigestTask() {
    stop_ = true;
    if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
}

void CFileDigestTask::Start(HANDLE file) {
    file_ = file;
    thread_.reset(::CreateThread(nullptr, 0, &CFileDigestTask::Run, this, 0, nullptr));
}

DWORD WINAPI CFileDigestTask::Run(void* self) { return static_cast<CFileDigestTask*>(self)->Digest() ? 0 : 1; }

bool CFileDigestTask::Digest() {
    read_ = Sha256OfFile(file_, &digest_, &stop_);
    done_ = true;
    return read_;
}

bool CFileDigestTask::Matches(const Sha256Digest& expected) {
    if (file_ == INVALID_HANDLE_VALUE) return false;
    if (thread_)
        ::WaitForSingleObject(thread_.get(), INFINITE);
    else if (!done_)
        Digest();
    return read_ && !IsZero(expected) && digest_ == expected;
}

// --- CStagedArchive ------------------------------------------------------------

bool CStagedArchive::Hold(const std::wstring& source) {
    sourcePath_ = source;
    source_.reset();
    if (IsLink(source)) return false;
    source_ = OpenHeld(source);
    return static_cast<bool>(source_);
}

bool CStagedArchive::Stage(const std::wstring& target) {
    BY_HANDLE_FILE_INFORMATION before = {};
    if (!source_ || !::GetFileInformationByHandle(source_.get(), &before)) return false;
    // A second name costs nothing to make; it must name the held file (the
    // bundle's entry may have been replaced since it was opened).
    if (::CreateHardLinkW(target.c_str(), sourcePath_.c_str(), nullptr)) {
        UniqueFile staged = OpenHeld(target);
        if (staged && IsHeldFile(staged.get(), source_.get(), before)) {
            staged_ = std::move(staged);
            path_ = target;
            return true;
        }
        staged.reset();
        if (!::DeleteFileW(target.c_str())) return false;
    }
    return CopyTo(target);
}

// Copies the held file's content into a new file.
bool CStagedArchive::CopyTo(const std::wstring& target) {
    {
        UniqueFile out(
            ::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return false;
        const DWORD kChunk = 1 << 20;
        std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kChunk]);
        bool copied = static_cast<bool>(buffer);
        for (unsigned long long offset = 0; copied;) {
            OVERLAPPED at = {};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD got = 0, written = 0;
            if (!::ReadFile(source_.get(), buffer.get(), kChunk, &got, &at)) {
                copied = ::GetLastError() == ERROR_HANDLE_EOF;
                break;
            }
            if (got == 0) break;
            copied = ::WriteFile(out.get(), buffer.get(), got, &written, nullptr) && written == got;
            offset += got;
        }
        if (!copied) {
            out.reset();
            ::DeleteFileW(target.c_str());
            return false;
        }
    }
    staged_ = OpenHeld(target);
    if (!staged_) return false;
    path_ = target;
    return true;
}
