// Runs ExtractPayload from wherever it is copied to, so that tests can choose
// what lies beside it. Exit code: the result of ExtractPayload.
#include <cstdio>

#include "install/extract_payload.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: extract_payload_child PAYLOAD-FOLDER ARCHIVE\n");
        return 100;
    }
    return ExtractPayload(argv[1], argv[2]);
}
