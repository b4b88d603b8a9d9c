#include "crashreport/base/Deflate.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

bool DeflateRaw(std::span<const uint8_t> data, std::vector<uint8_t>& out) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    // Never smaller than the classic size * 11 / 10 + 12; deflateBound covers incompressible input.
    const uint64_t bound =
        std::max<uint64_t>(deflateBound(&zs, uLong(std::min<size_t>(data.size(), ULONG_MAX))),
                           uint64_t(data.size()) * 11 / 10 + 12);
    const size_t start = out.size();
    bool ok = bound <= SIZE_MAX - start;
    if (ok) out.resize(start + size_t(bound));
    const uint8_t* in = data.data();
    size_t inLeft = data.size();
    zs.next_out = out.data() + start;
    size_t outLeft = ok ? size_t(bound) : 0;
    int rc = Z_OK;
    // zlib counts in uInt; feed and drain in pieces that fit.
    while (ok && rc == Z_OK) {
        const uInt inPiece = uInt(std::min<size_t>(inLeft, 1u << 30));
        const uInt outPiece = uInt(std::min<size_t>(outLeft, 1u << 30));
        zs.next_in = const_cast<Bytef*>(in);
        zs.avail_in = inPiece;
        zs.avail_out = outPiece;
        rc = deflate(&zs, inPiece == inLeft ? Z_FINISH : Z_NO_FLUSH);
        in += inPiece - zs.avail_in;
        inLeft -= inPiece - zs.avail_in;
        outLeft -= outPiece - zs.avail_out;
        if (rc != Z_OK && rc != Z_STREAM_END) ok = false;
    }
    ok = ok && rc == Z_STREAM_END;
    deflateEnd(&zs);
    out.resize(ok ? out.size() - outLeft : start);
    return ok;
}
