// Writes a C++ source holding the given files as byte arrays, with a lookup by
// file name (builtin_images.h): embed_images OUT.cpp FILE...
#include <cstdio>
#include <string>

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: embed_images OUT.cpp FILE...\n");
    return 2;
  }
  std::string sOut = "// Written by embed_images.\n#include <cstring>\n\n"
                     "#include \"tools/skin/builtin_images.h\"\n\nnamespace {\n";
  std::string sTable = "const BuiltinImage kImages[] = {\n";
  for (int i = 2; i < argc; ++i) {
    FILE *pFile = std::fopen(argv[i], "rb");
    if (!pFile) {
      std::perror(argv[i]);
      return 1;
    }
    sOut += "const uint8_t kImage" + std::to_string(i) + "[] = {";
    int c;
    for (size_t n = 0; (c = std::fgetc(pFile)) != EOF; ++n) {
      if (n % 24 == 0)
        sOut += '\n';
      sOut += std::to_string(c);
      sOut += ',';
    }
    std::fclose(pFile);
    sOut += "\n};\n";
    std::string sName = argv[i];
    sName = sName.substr(sName.find_last_of('/') + 1);
    sTable += "    {\"" + sName + "\", kImage" + std::to_string(i) + ", sizeof kImage" +
              std::to_string(i) + "},\n";
  }
  sOut += sTable + "};\n} // namespace\n\n"
                   "const BuiltinImage *FindBuiltinImage(const char *szName) {\n"
                   "  for (const BuiltinImage &image : kImages)\n"
                   "    if (std::strcmp(image.szName, szName) == 0)\n"
                   "      return &image;\n"
                   "  return nullptr;\n}\n";
  FILE *pOut = std::fopen(argv[1], "w");
  if (!pOut || std::fputs(sOut.c_str(), pOut) < 0 || std::fclose(pOut) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
