// Fuzzes the header phase of an HTTP response and the de-chunking of its body: whatever the server
// sends, the parse stays within the bytes and the decoder gives the same payload however the body
// is split into receives.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/http_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const vg::ResponseHeader header = vg::parse_response_header(bytes);
    if (!header.complete) return 0;
    if (header.header_length > size) std::abort();
    if (header.content_type && header.content_type->empty()) std::abort();
    (void)vg::expected_content_type(bytes.substr(0, header.header_length));

    const std::string_view body = bytes.substr(header.header_length);
    vg::ChunkedDecoder whole;
    std::string whole_out;
    const auto whole_status = whole.feed(body, whole_out);

    // The same body a byte at a time, as slow receives would deliver it.
    vg::ChunkedDecoder split;
    std::string split_out;
    auto split_status = vg::ChunkedDecoder::Status::more;
    for (std::size_t i = 0; i < body.size() && split_status == vg::ChunkedDecoder::Status::more; ++i)
        split_status = split.feed(body.substr(i, 1), split_out);
    if (whole_status != split_status || whole_out != split_out) std::abort();
    if (whole_out.size() > body.size()) std::abort();
    return 0;
}
