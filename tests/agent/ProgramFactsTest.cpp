// The publisher a notice names, read from version information that is
// garbled: copies of a real program whose version resource is replaced.
#include "AgentTestSupport.h"
#include "agent/ProgramFacts.h"
#include "core/StrCon.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// One node of a version block: its header (length, value length, type), its
// key, its value and its children, each aligned to four bytes. `claimed`
// overrides the length the header states; `valueUnits` the value length.
struct Node {
    std::u16string key;
    std::string value;
    std::vector<Node> children;
    bool text = false;
    int claimed = -1;
    int valueUnits = -1;
};

void Pad(std::string& bytes)
{
    while (bytes.size() % 4 != 0)
        bytes.push_back('\0');
}

void PutWord(std::string& bytes, std::size_t at, std::uint16_t word)
{
    bytes[at] = static_cast<char>(word & 0xFF);
    bytes[at + 1] = static_cast<char>(word >> 8);
}

std::string Bytes(const Node& node)
{
    std::string bytes(6, '\0');
    for (const char16_t unit : node.key + u'\0')
        bytes.append({static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)});
    Pad(bytes);
    bytes += node.value;
    Pad(bytes);
    for (const Node& child : node.children) {
        bytes += Bytes(child);
        Pad(bytes);
    }
    const std::size_t units = node.text ? node.value.size() / 2 : node.value.size();
    PutWord(bytes, 0, static_cast<std::uint16_t>(node.claimed >= 0 ? node.claimed : bytes.size()));
    PutWord(bytes, 2, static_cast<std::uint16_t>(node.valueUnits >= 0 ? node.valueUnits : units));
    PutWord(bytes, 4, node.text ? 1 : 0);
    return bytes;
}

std::string Utf16(const std::u16string& text, bool terminated = true)
{
    std::string bytes;
    for (const char16_t unit : terminated ? text + u'\0' : text)
        bytes.append({static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)});
    return bytes;
}

Node ValueNode(std::string value)
{
    Node node;
    node.value = std::move(value);
    return node;
}

Node Company(Node value)
{
    value.key = u"CompanyName";
    value.text = true;
    Node table{u"040904b0", {}, {std::move(value), Node{u"ProductName", Utf16(u"Product"), {}, true}}, true};
    Node strings{u"StringFileInfo", {}, {std::move(table)}, true};
    Node translation{u"Translation", std::string("\x09\x04\xb0\x04", 4), {}, false};
    Node vars{u"VarFileInfo", {}, {translation}, true};
    std::string fixed(52, '\0');
    PutWord(fixed, 0, 0x04BD);
    PutWord(fixed, 2, 0xFEEF);
    PutWord(fixed, 6, 1);
    return Node{u"VS_VERSION_INFO", fixed, {std::move(strings), std::move(vars)}, false};
}

// A copy of the test's recording program with `block` as its version resource.
std::string ProgramWith(const AgentSandbox& sandbox, const std::string& name, const std::string& block)
{
    const std::string path = sandbox.AddRecorder(name);
    const HANDLE update = BeginUpdateResourceW(WideFromUtf8(path).c_str(), FALSE);
    EXPECT_NE(update, nullptr) << path;
    EXPECT_TRUE(UpdateResourceW(update, MAKEINTRESOURCEW(16) /* RT_VERSION */, MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                const_cast<char*>(block.data()), static_cast<DWORD>(block.size())));
    EXPECT_TRUE(EndUpdateResourceW(update, FALSE));
    return path;
}

TNewProgram FactsOf(const std::string& path)
{
    TStartupItem item;
    item.Location = 1;
    item.Desc = ShortString("Garbled");
    item.CmdLine = ShortString("\"" + path + "\" /start");
    return ReadProgramFacts(item);
}

bool Printable(const std::string& text)
{
    return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

} // namespace

// Whole, cut short, a value claiming more than its block, a node of no
// length and a block past the bound: the facts come back every time, the
// publisher is the value's own text or nothing, never bytes beyond it.
TEST(ProgramFacts, GarbledVersionInformationGivesThePublisherOrNothingNeverGarbage)
{
    AgentSandbox sandbox;
    const std::string whole = Bytes(Company(ValueNode(Utf16(u"Good Maker"))));
    EXPECT_EQ(FactsOf(ProgramWith(sandbox, "whole.exe", whole)).publisher, "Good Maker");

    const TNewProgram cut = FactsOf(ProgramWith(sandbox, "cut.exe", whole.substr(0, whole.size() / 2)));
    EXPECT_TRUE(cut.publisher.empty() || cut.publisher == "Good Maker") << cut.publisher;
    EXPECT_FALSE(cut.signature.empty());

    Node claiming = ValueNode(Utf16(u"Makers", /*terminated=*/false));
    claiming.valueUnits = 2000;
    const TNewProgram over = FactsOf(ProgramWith(sandbox, "over.exe", Bytes(Company(claiming))));
    EXPECT_TRUE(over.publisher.empty() || over.publisher.rfind("Makers", 0) == 0) << over.publisher;
    EXPECT_LE(over.publisher.size(), 6u) << "nothing of the blocks after the value: " << over.publisher;
    EXPECT_TRUE(Printable(over.publisher)) << over.publisher;

    Node empty = ValueNode(Utf16(u"Nobody"));
    empty.claimed = 0;
    const TNewProgram none = FactsOf(ProgramWith(sandbox, "zero.exe", Bytes(Company(empty))));
    EXPECT_TRUE(Printable(none.publisher)) << none.publisher;

    const std::string huge = Bytes(Company(ValueNode(Utf16(u"Big")))) + std::string(kVersionInfoMax + 4096, 'x');
    const TNewProgram big = FactsOf(ProgramWith(sandbox, "huge.exe", huge));
    EXPECT_EQ(big.publisher, "");
    EXPECT_NE(big.signature.find("not read"), std::string::npos) << big.signature;
}
