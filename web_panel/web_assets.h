#pragma once
// The page's files (web_panel/web/) and its icon, built into the program by
// cmake/embed_files.cmake.
#include <cstddef>
#include <cstdint>

struct WebAsset {
  const char *szPath;  // "/", "/panel.css", "/panel.js", "/favicon.ico"
  const char *szType;  // the Content-Type
  const uint8_t *pBytes;
  size_t dwLength;
};

extern const WebAsset kWebAssets[4];

// The asset served at a path; the page itself for any other path.
const WebAsset *FindWebAsset(const char *szPath);
