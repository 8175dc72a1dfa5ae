#include "install/extract_payload.h"

#include "archive/sevenzip.h"
#include "util/path.h"

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
            // the next ones are decoded.
            extractor.SetDecoderThreads(SevenZip::ProcessorCount());
            extractor.SetTakeDigests(items != nullptr);
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
