#pragma once
// Unpacks the payload archive into the payload folder with the 7z.dll that
// lies beside the running installer.
#include <string>
#include <vector>

#include "contract/payload_items.h"

enum ExtractPayloadResult : int {
    kPayloadExtracted = 0,       // the archive was extracted into the payload folder
    kPayloadLibraryMissing = 1,  // no 7z.dll in the installer folder
    kPayloadFolderFailed = 2,    // the payload folder cannot be created
    kPayloadExtractFailed = 3,   // loading the library, opening or extracting failed
};

// Never throws; the result is one of ExtractPayloadResult.
int ExtractPayload(const std::wstring& payloadFolder, const std::wstring& archivePath);
// The same with the 7z.dll of `libraryFolder`; on success `items` receives
// every item the extraction wrote (when given).
int ExtractPayload(const std::wstring& payloadFolder, const std::wstring& archivePath,
                   const std::wstring& libraryFolder, std::vector<PayloadItem>* items);
