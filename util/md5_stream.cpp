// Feeding an MD5 context from a file stream, in a file of its own: a program
// that never hashes a stream links none of the stream and locale machinery.
#include <fstream>

#include "util/md5.h"

void CMd5::UpdateFromStream(std::ifstream& stream) {
    if (stream.fail() || stream.bad()) return;
    char buffer[1024];
    // A short read at the end sets eof (and fail); a read error sets bad or
    // fail. Either ends the loop after hashing what was delivered.
    while (stream.good()) {
        stream.read(buffer, sizeof buffer);
        std::streamsize got = stream.gcount();
        if (got > 0) Update(buffer, static_cast<std::uint32_t>(got));
    }
    stream.close();  // sets failbit (and throws if asked to) when closing fails
}
