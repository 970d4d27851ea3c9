# cmake -DOUTPUT=file.cpp -DSOURCE_DIR=dir -DFAVICON=file.ico -P embed_files.cmake: writes the
# page's files and its icon as byte arrays into one C++ source (no tool but CMake itself, so that
# every build makes it alike).
set(assets "/|${SOURCE_DIR}/index.html|text/html" "/panel.css|${SOURCE_DIR}/panel.css|text/css"
           "/panel.js|${SOURCE_DIR}/panel.js|text/javascript"
           "/favicon.ico|${FAVICON}|image/vnd.microsoft.icon")
list(LENGTH assets count)
set(code "// Made by cmake/embed_files.cmake from web_panel/web/ and the icon: do not edit.\n")
string(APPEND code "#include \"web_panel/web_assets.h\"\n\n#include <cstring>\n\nnamespace {\n\n")
set(table "")
set(index 0)
foreach(asset IN LISTS assets)
  string(REPLACE "|" ";" fields "${asset}")
  list(GET fields 0 path)
  list(GET fields 1 file)
  list(GET fields 2 type)
  if(type MATCHES "^text/")
    string(APPEND type "; charset=utf-8")
  endif()
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR length "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
  string(APPEND code "const uint8_t kAsset${index}[] = {\n    ${bytes}};\n\n")
  string(APPEND table "    {\"${path}\", \"${type}\", kAsset${index}, ${length}},\n")
  math(EXPR index "${index} + 1")
endforeach()
string(APPEND code "}  // namespace\n\nconst WebAsset kWebAssets[${count}] = {\n${table}};\n\n")
string(APPEND code "const WebAsset *FindWebAsset(const char *szPath) {\n"
                   "  for (const WebAsset &asset : kWebAssets) {\n"
                   "    if (strcmp(asset.szPath, szPath) == 0) return &asset;\n"
                   "  }\n"
                   "  return &kWebAssets[0];\n}\n")
file(WRITE "${OUTPUT}.part" "${code}")
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
