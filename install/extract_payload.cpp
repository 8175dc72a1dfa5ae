#include "install/extract_payload.h"

#include <memory>
#include <mutex>

#include "archive/sevenzip.h"
#include "contract/setup_viewer_api.h"
#include "util/crc32.h"
#include "util/owned.h"
#include "util/path.h"
#include "util/text.h"

namespace {

// The payload's own list of digests, taken as soon as the extraction has
// written it intact: from then on the files it names need not be read for
// their digest. Shared between the extraction's thread, which takes the
// list, and the digest thread, which asks it.
class CListedDigests {
public:
    void Take(const SevenZip::ExtractedItem& item, const std::wstring& target) {
        if (!SameName(item.path, QV_PAYLOAD_CHECKSUMS) || !item.hasCrc || item.size > (1u << 20)) return;
        UniqueFile file(
            ::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        std::string text(static_cast<size_t>(item.size), '\0');
        DWORD got = 0;
        if (!file ||
            (!text.empty() && !::ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr)) ||
            got != text.size() || Crc32Update(0, text.data(), text.size()) != item.crc)
            return;
        std::vector<ListedDigest> list = ParseDigestList(text);
        std::lock_guard<std::mutex> hold(m_lock);
        m_list.swap(list);
    }
    std::string Of(const SevenZip::ExtractedItem& item) {
        std::lock_guard<std::mutex> hold(m_lock);
        return ListedDigestOf(m_list, item.path);
    }

private:
    std::mutex m_lock;
    std::vector<ListedDigest> m_list;
};

}  // namespace

int ExtractPayload(const std::wstring& payloadFolder, const std::wstring& archivePath) {
    return ExtractPayload(payloadFolder, archivePath, ModuleFolder(), nullptr);
}

int ExtractPayload(const std::wstring& payloadFolder, const std::wstring& archivePath,
                   const std::wstring& libraryFolder, std::vector<PayloadItem>* items) {
    try {
        std::wstring library = libraryFolder + L"\\7z.dll";
        if (!FileExists(library)) return kPayloadLibraryMissing;
        if (!CreateDirectoryTree(payloadFolder)) return kPayloadFolderFailed;

        SevenZip::SevenZipModule module;
        module.Load(library);
        {
            SevenZip::SevenZipExtractor extractor(module, archivePath);
            // Every core decodes (an archive of independent blocks), and each
            // file is checked as it is written and digested once closed, while
            // the next ones are decoded; a file the payload's own list of
            // digests names, once that list is written, is not read again.
            extractor.SetDecoderThreads(SevenZip::ProcessorCount());
            auto listed = std::make_shared<CListedDigests>();
            SevenZip::intl::DigestHooks hooks;
            hooks.written = [listed](const SevenZip::ExtractedItem& item, const std::wstring& target) {
                listed->Take(item, target);
            };
            hooks.known = [listed](const SevenZip::ExtractedItem& item) { return listed->Of(item); };
            extractor.SetTakeDigests(items != nullptr, hooks);
            extractor.ExtractTo(payloadFolder);
            if (items) {
                items->clear();
                for (const SevenZip::ExtractedItem& item : extractor.ExtractedItems())
                    items->push_back({item.path, item.isFolder, item.size, item.hasCrc, item.crc, item.md5});
            }
        }
        module.Free();
        return kPayloadExtracted;
    } catch (const SevenZip::SevenZipException&) {
        return kPayloadExtractFailed;
    } catch (...) {
        return kPayloadExtractFailed;
    }
}
