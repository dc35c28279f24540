// SPDX-License-Identifier: GPL-3.0-or-later
// The site's files, at / and at /c/KEY/, with the policy that lets the game run and nothing
// else: its own scripts and styles and the inline ones its pages hold (by their hashes), its
// WebAssembly, its own images and connections, and no frame of it on another page.
#include "server/api.h"

#include "server/encoding.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace server {

namespace {

const char* contentType(const std::filesystem::path& file)
{
    static const std::pair<const char*, const char*> types[] = {{".html", "text/html; charset=utf-8"},
                                                                {".js", "text/javascript; charset=utf-8"},
                                                                {".mjs", "text/javascript; charset=utf-8"},
                                                                {".css", "text/css; charset=utf-8"},
                                                                {".json", "application/json"},
                                                                {".webmanifest", "application/manifest+json"},
                                                                {".wasm", "application/wasm"},
                                                                {".png", "image/png"},
                                                                {".svg", "image/svg+xml"},
                                                                {".ico", "image/x-icon"},
                                                                {".txt", "text/plain; charset=utf-8"},
                                                                {".rnk", "application/octet-stream"}};
    const std::string ext = file.extension().string();
    for (const auto& [e, type] : types)
        if (ext == e)
            return type;
    return "application/octet-stream";
}

// The hashes ('sha256-…') of a page's inline elements `tag` (script or style): each without a
// src, by the text between its tag and its end tag, as the browser hashes it.
std::string inlineHashes(std::string_view html, const std::string& tag)
{
    std::string hashes;
    const std::string start = "<" + tag, end = "</" + tag;
    for (std::size_t at = html.find(start); at != std::string_view::npos; at = html.find(start, at + 1)) {
        const std::size_t open = html.find('>', at);
        const std::size_t close = open == std::string_view::npos ? open : html.find(end, open);
        if (close == std::string_view::npos)
            break;
        const std::string_view attributes = html.substr(at + start.size(), open - at - start.size());
        if ((attributes.empty() || attributes[0] == ' ') && attributes.find(" src=") == std::string_view::npos) {
            const std::optional<std::string> digest = fromHex(keyHash(html.substr(open + 1, close - open - 1)));
            hashes += " 'sha256-" + base64(digest.value_or("")) + "'";
        }
        at = close;
    }
    return hashes;
}

std::string sitePolicy(std::string_view html)
{
    return "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'" + inlineHashes(html, "script")
           + "; style-src 'self'" + inlineHashes(html, "style")
           + "; img-src 'self'; connect-src 'self'; worker-src 'self'; object-src 'none'; "
             "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
}

} // namespace

Response Api::siteFile(std::string_view path) const
{
    namespace fs = std::filesystem;
    if (path.empty() || path.back() == '/')
        return siteFile(std::string(path) + "index.html");
    // Plain names only: no "..", no hidden files, no backslashes or NULs.
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string_view part = path.substr(at, end - at);
        if (part.empty() || part[0] == '.')
            return errorResponse(404, "not found");
        for (const char c : part)
            if (static_cast<unsigned char>(c) < 0x20 || c == '\\')
                return errorResponse(404, "not found");
        at = end + 1;
    }
    if (options.siteDir.empty())
        return errorResponse(404, "not found");
    const fs::path file = fs::path(options.siteDir) / path;
    std::error_code error;
    if (!fs::is_regular_file(file, error))
        return errorResponse(404, "not found");
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in)
        return errorResponse(404, "not found");
    Response r{200, contentType(file), std::move(bytes).str(), {{"Cache-Control", "no-cache"}}};
    r.headers.emplace_back("Content-Security-Policy", sitePolicy(file.extension() == ".html" ? r.body : ""));
    r.headers.emplace_back("X-Frame-Options", "DENY");
    return r;
}

} // namespace server
