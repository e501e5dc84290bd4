// The shared library exports exactly the HX_* and CS_HX_* functions the public header declares.
#include <gtest/gtest.h>

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<char> readFile(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Every function the header declares with HX_API.
std::set<std::string> declaredFunctions(const std::string& header)
{
    std::set<std::string> names;
    const std::regex declaration(R"(HX_API\s+[^;()]*?\b((?:CS_)?HX_\w+)\s*\()");
    for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end; ++it)
        names.insert((*it)[1].str());
    return names;
}

template <class T>
bool readAt(const std::vector<char>& image, std::size_t offset, T& value)
{
    if (offset > image.size() || image.size() - offset < sizeof value)
        return false;
    std::memcpy(&value, image.data() + offset, sizeof value);
    return true;
}

// Defined global symbols of the dynamic symbol table, with whether each is a function.
struct Exported {
    std::set<std::string> functions;
    std::set<std::string> others;
};

Exported exportedSymbols(const std::vector<char>& image)
{
    Exported exported;
    Elf64_Ehdr header{};
    if (!readAt(image, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64)
        return exported;
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    for (std::size_t i = 0; i < sections.size(); ++i)
        readAt(image, header.e_shoff + i * sizeof(Elf64_Shdr), sections[i]);
    for (const Elf64_Shdr& table : sections) {
        if (table.sh_type != SHT_DYNSYM || table.sh_link >= sections.size())
            continue;
        const Elf64_Shdr& strings = sections[table.sh_link];
        for (std::size_t offset = 0; offset + sizeof(Elf64_Sym) <= table.sh_size; offset += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol{};
            readAt(image, table.sh_offset + offset, symbol);
            const unsigned binding = ELF64_ST_BIND(symbol.st_info);
            if (symbol.st_shndx == SHN_UNDEF || symbol.st_name == 0 || (binding != STB_GLOBAL && binding != STB_WEAK))
                continue;
            const std::size_t at = strings.sh_offset + symbol.st_name;
            if (at >= image.size())
                continue;
            const std::string name(image.data() + at, strnlen(image.data() + at, image.size() - at));
            (ELF64_ST_TYPE(symbol.st_info) == STT_FUNC ? exported.functions : exported.others).insert(name);
        }
    }
    return exported;
}

TEST(ExportedSymbols, AreExactlyTheFunctionsOfThePublicHeader)
{
    const std::vector<char> headerBytes = readFile(HX_PUBLIC_HEADER);
    const std::set<std::string> declared = declaredFunctions(std::string(headerBytes.begin(), headerBytes.end()));
    ASSERT_GT(declared.size(), 90u) << "the header's declarations were not found";
    EXPECT_TRUE(declared.count("HX_register") && declared.count("CS_HX_str_flags") &&
                declared.count("HX_lens_info_init"));

    const Exported exported = exportedSymbols(readFile(HX_SHARED_LIBRARY));
    ASSERT_FALSE(exported.functions.empty()) << "no dynamic symbols read from " << HX_SHARED_LIBRARY;

    std::vector<std::string> missing;
    for (const std::string& name : declared)
        if (!exported.functions.count(name))
            missing.push_back(name);
    std::vector<std::string> extra;
    for (const std::string& name : exported.functions)
        if (!declared.count(name))
            extra.push_back(name);
    EXPECT_TRUE(missing.empty()) << "declared but not exported: " << ::testing::PrintToString(missing);
    EXPECT_TRUE(extra.empty()) << "exported but not declared: " << ::testing::PrintToString(extra);
    EXPECT_TRUE(exported.others.empty()) << "exported data: " << ::testing::PrintToString(exported.others);
}

} // namespace
