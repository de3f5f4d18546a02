// nbctl's readers of outside bytes. Any input is read as a listen file, as a server's answer,
// as a log line and as text for JSON: no fault, a port from 1 to 65535, a status of three
// digits, and JSON that is valid UTF-8 with no raw control character. Then a well-formed
// listen file and status line are made from the input (first bytes: the port or status and
// the shape; the rest: the lines before the Listen line and the address) and must give
// back that port and that status.
#include <string>

#include "fuzz_check.h"
#include "nbctl/text.h"

namespace {

bool ValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
        for (std::size_t k = 1; k < n; ++k) {
            const unsigned char b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    unsigned port = 0;
    if (nbctl::ParseListenPort(bytes, &port)) FUZZ_REQUIRE(port >= 1 && port <= 65535);
    int status = -1;
    if (nbctl::ParseHttpStatus(bytes, &status)) FUZZ_REQUIRE(status >= 0 && status <= 999);
    nbctl::LogLine line;
    nbctl::ParseLogLine(bytes, &line);
    std::string rest;
    std::size_t total = 0;
    for (const std::string& l : nbctl::CompleteLines(bytes, &rest)) total += l.size();
    FUZZ_REQUIRE(total + rest.size() <= bytes.size());
    const std::string json = nbctl::JsonString(bytes);
    FUZZ_REQUIRE(json.size() >= 2 && json.front() == '"' && json.back() == '"' && ValidUtf8(json));
    for (char c : json) FUZZ_REQUIRE(static_cast<unsigned char>(c) >= 0x20);

    // Well-formed: the port and status from the first three bytes, then the shape.
    if (size < 5) return 0;
    const unsigned wantPort = 1 + ((data[0] | (data[1] << 8)) % 65535);
    const int wantStatus = 100 + (data[2] | (data[3] << 8)) % 900;
    const uint8_t shape = data[4];
    std::string listen;
    std::string address;
    for (std::size_t i = 5; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n') {
            listen += "# " + address + "\r\n";  // a line before it that is no Listen line
            address.clear();
        } else if (c != '\r' && c != ' ' && c != '\t' && c != '#') {
            address += c;
        }
    }
    if (shape & 1) listen += shape & 2 ? "\t " : " ";
    listen += shape & 4 ? "LISTEN" : shape & 8 ? "listen" : "Listen";
    listen += shape & 16 ? "\t" : " ";
    if (shape & 32) listen += (address.empty() ? "127.0.0.1" : address) + ":";
    listen += std::to_string(wantPort);
    if (shape & 64) listen += "\r\nListen 1";
    if (shape & 128) listen += "\r\n";
    unsigned gotPort = 0;
    FUZZ_REQUIRE(nbctl::ParseListenPort(listen, &gotPort) && gotPort == wantPort);

    std::string answer = std::string("HTTP/1.") + (shape & 1 ? "1 " : "0 ") + std::to_string(wantStatus);
    if (shape & 2) answer += " " + address;
    if (shape & 4) answer += "\r\n";
    int gotStatus = 0;
    FUZZ_REQUIRE(nbctl::ParseHttpStatus(answer, &gotStatus) && gotStatus == wantStatus);
    return 0;
}
