# cmake -DOUTPUT=<file.cpp> -DINPUTS=<file;file...> -P embed.cmake
# Writes one StreamTestFile record per input, named by its file name.
set(body "")
set(table "")
set(index 0)
foreach(input IN LISTS INPUTS)
  get_filename_component(name ${input} NAME)
  file(READ ${input} hex HEX)
  file(SIZE ${input} size)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
  string(APPEND body "static const unsigned char data${index}[] = {\n${bytes}0};\n")
  string(APPEND table "    {\"${name}\", data${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.tmp
  "#include \"StreamTestData.h\"\n#include <cstring>\n\n${body}\n"
  "static const StreamTestFile files[] = {\n${table}};\n\n"
  "const StreamTestFile* FindStreamTestFile(const char* name)\n{\n"
  "    for (const StreamTestFile& file : files)\n"
  "        if (std::strcmp(file.name, name) == 0)\n"
  "            return &file;\n"
  "    return nullptr;\n}\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
