#include "install/extract_payload.h"

#include "archive/sevenzip.h"
#include "util/path.h"

int ExtractPayload(const std::wstring& payloadFolder, const std::wstring& archivePath) {
    try {
        std::wstring library = ModuleFolder() + L"\\7z.dll";
        if (!FileExists(library)) return kPayloadLibraryMissing;
        if (!CreateDirectoryTree(payloadFolder)) return kPayloadFolderFailed;

        SevenZip::SevenZipModule module;
        module.Load(library);
        {
            SevenZip::SevenZipExtractor extractor(module, archivePath);
            extractor.ExtractTo(payloadFolder);
        }
        module.Free();
        return kPayloadExtracted;
    } catch (const SevenZip::SevenZipException&) {
        return kPayloadExtractFailed;
    } catch (...) {
        return kPayloadExtractFailed;
    }
}
