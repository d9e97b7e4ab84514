// The manifest, journal and outcome forms: what the writers write the readers
// read back, and every damaged or hostile form is refused as a whole.
#include "update/stub/ManifestWriter.h"
#include "update/stub/StubRecords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Bytes(unsigned char first)
{
    std::string digest(32, '\0');
    for (int i = 0; i < 32; ++i)
        digest[i] = static_cast<char>(first + i * 7);
    return digest;
}

std::string JournalText(const std::vector<JournalMove>& moves, bool commit)
{
    std::vector<char> buffer(4096);
    RecordText out(buffer.data(), buffer.size());
    WriteJournalHeader(out);
    for (const JournalMove& move : moves)
        WriteJournalMove(out, move);
    WriteJournalPlanned(out, moves.size());
    if (commit)
        out.Add(JournalCommitLine);
    return std::string(out.Text());
}

TEST(StubRecords, TheManifestTheEngineWritesIsTheOneTheStubReads)
{
    const std::vector<ManifestEntry> files = {
        {"app.exe", Bytes(0)}, {"Jörg 产品.dll", Bytes(200)}, {"update.ini", Bytes(17)}, {"data.bin", Bytes(9), true}};
    const std::string text = ManifestText({4242, 133000000000000000ull}, "freshet.exe", files);
    Manifest manifest;
    ASSERT_EQ(ReadManifest(text, manifest), RecordError::none) << text;
    EXPECT_EQ(manifest.updater, "freshet.exe");
    EXPECT_EQ(manifest.product.id, 4242u);
    EXPECT_EQ(manifest.product.creationTime, 133000000000000000ull);
    ASSERT_EQ(manifest.fileCount, 4u);
    std::string_view lines = manifest.fileLines;
    ManifestFile file;
    for (const ManifestEntry& entry : files) {
        ASSERT_TRUE(NextManifestFile(lines, file));
        EXPECT_EQ(file.name, entry.name);
        EXPECT_EQ(file.keep, entry.keep) << entry.name;
        unsigned char digest[32];
        std::copy(entry.sha256.begin(), entry.sha256.end(), digest);
        EXPECT_TRUE(DigestMatches(file.sha256, digest));
        digest[31] ^= 1;
        EXPECT_FALSE(DigestMatches(file.sha256, digest));
    }
    EXPECT_FALSE(NextManifestFile(lines, file));

    // Without a product, and with no file at all.
    const std::string empty = ManifestText({}, "app.exe", {});
    ASSERT_EQ(ReadManifest(empty, manifest), RecordError::none);
    EXPECT_EQ(manifest.product.id, 0u);
    EXPECT_EQ(manifest.updater, "app.exe");
    EXPECT_EQ(manifest.fileCount, 0u);
    // The writer never writes a name the stub would refuse.
    EXPECT_EQ(ManifestText({}, "freshet.exe", {{"..\\freshet.exe", Bytes(1)}}), "");
    EXPECT_EQ(ManifestText({}, "freshet.exe", {{"a.txt", "short"}}), "");
    EXPECT_EQ(ManifestText({}, "..\\freshet.exe", {}), "");
}

TEST(StubRecords, DamagedOrHostileManifestsAreRefusedWhole)
{
    const std::string good = ManifestText({7, 99}, "freshet.exe", {{"app.exe", Bytes(0)}, {"lib.dll", Bytes(1)}});
    const std::string digest = good.substr(good.find("file\t") + 5, 64);
    const std::string head = "keldora-update-manifest 2\nupdater\tfreshet.exe\n";
    const auto withName = [&](const std::string& name) { return head + "file\t" + digest + "\t" + name + "\nend\t1\n"; };
    Manifest manifest;
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_NE(ReadManifest(good.substr(0, cut), manifest), RecordError::none) << "cut at " << cut;
    EXPECT_EQ(ReadManifest(good.substr(0, good.size() - 1), manifest), RecordError::truncated);

    const std::vector<std::pair<std::string, RecordError>> cases = {
        {"keldora-update-manifest 1\nend\t0\n", RecordError::header},
        {"keldora-update-manifest 2\nend\t0\n", RecordError::garbled},
        {"keldora-update-manifest 2\nupdater\t..\\x.exe\nend\t0\n", RecordError::badName},
        {"keldora-update-manifest 2\nupdater\t\nend\t0\n", RecordError::badName},
        {"\xEF\xBB\xBFkeldora-update-manifest 2\nupdater\ta.exe\nend\t0\n", RecordError::header},
        {good + "file\t" + digest + "\tmore.txt\n", RecordError::garbled},
        {head + "end\t1\n", RecordError::garbled},
        {head + "end\t01\n", RecordError::garbled},
        {head + "file\t" + digest.substr(1) + "\ta.txt\nend\t1\n", RecordError::garbled},
        {head + "file " + digest + " a.txt\nend\t1\n", RecordError::garbled},
        {"keldora-update-manifest 2\nproduct\tx\t1\nupdater\ta.exe\nend\t0\n", RecordError::garbled},
        {"keldora-update-manifest 2\nproduct\t4294967296\t1\nupdater\ta.exe\nend\t0\n", RecordError::garbled},
        {"keldora-update-manifest 2\r\nupdater\ta.exe\r\nend\t0\r\n", RecordError::header},
        {withName("..\\app.exe"), RecordError::badName},
        {withName("C:\\Windows\\app.exe"), RecordError::badName},
        {withName("/etc/passwd"), RecordError::badName},
        {withName(".."), RecordError::badName},
        {withName("app.exe:stream"), RecordError::badName},
        {withName("app.exe::$DATA"), RecordError::badName},
        {withName("CON.txt"), RecordError::badName},
        {withName("name."), RecordError::badName},
        {withName("a.uTMP"), RecordError::badName},
        {withName("a.uBAK"), RecordError::badName},
        {withName("update.journal"), RecordError::badName},
        {withName("bad\xC3"), RecordError::badName},
        {withName(""), RecordError::badName},
        {withName(std::string(201, 'a')), RecordError::badName},
        {head + "file\t" + digest + "\tA.txt\nfile\t" + digest + "\ta.TXT\nend\t2\n", RecordError::duplicate},
        // A kept file is one of the release's names too: never also a download, never outside.
        {head + "file\t" + digest + "\tA.txt\nkeep\t" + digest + "\ta.TXT\nend\t2\n", RecordError::duplicate},
        {head + "keep\t" + digest + "\t..\\app.exe\nend\t1\n", RecordError::badName},
        {head + "kept\t" + digest + "\ta.txt\nend\t1\n", RecordError::garbled},
        {head + "keep\t" + digest.substr(1) + "\ta.txt\nend\t1\n", RecordError::garbled},
    };
    for (const auto& [text, error] : cases)
        EXPECT_EQ(ReadManifest(text, manifest), error) << text;
}

TEST(StubRecords, JournalsCommittedCutOrGarbled)
{
    const std::string a(64, 'a');
    const std::string b(64, 'B');
    const std::vector<JournalMove> moves = {{true, a, "app.exe.uTMP", "app.exe"},
                                            {false, b, "new.txt.uTMP", "new.txt"},
                                            {true, a, "freshet.exe.uTMP", "freshet.exe"}};
    Journal journal;
    const std::string planned = JournalText(moves, false);
    ASSERT_EQ(ReadJournal(planned, journal), RecordError::none);
    EXPECT_EQ(journal.version, 2);
    EXPECT_FALSE(journal.committed);
    ASSERT_EQ(journal.moveCount, 3u);
    std::string_view lines = journal.moveLines;
    JournalMove move;
    for (const JournalMove& expected : moves) {
        ASSERT_TRUE(NextJournalMove(lines, move));
        EXPECT_EQ(move.hadTarget, expected.hadTarget);
        EXPECT_EQ(move.sha256, expected.sha256);
        EXPECT_EQ(move.pending, expected.pending);
        EXPECT_EQ(move.target, expected.target);
    }
    const std::string committed = JournalText(moves, true);
    ASSERT_EQ(ReadJournal(committed, journal), RecordError::none);
    EXPECT_TRUE(journal.committed);
    // A commit line cut while it was written is no commit, nor are the zeros
    // a power cut leaves of an append that never reached the disk.
    ASSERT_EQ(ReadJournal(committed.substr(0, committed.size() - 3), journal), RecordError::none);
    EXPECT_FALSE(journal.committed);
    ASSERT_EQ(ReadJournal(planned + std::string(7, '\0'), journal), RecordError::none);
    EXPECT_FALSE(journal.committed);
    EXPECT_EQ(ReadJournal(planned + std::string(8, '\0'), journal), RecordError::garbled);
    EXPECT_EQ(ReadJournal(std::string(planned.size(), '\0'), journal), RecordError::header);

    for (std::size_t cut = 0; cut + 1 < planned.size(); ++cut)
        EXPECT_NE(ReadJournal(planned.substr(0, cut), journal), RecordError::none) << "cut at " << cut;
    EXPECT_EQ(ReadJournal(committed + "commit\n", journal), RecordError::garbled);
    EXPECT_EQ(ReadJournal(JournalText({{true, a, "x.uTMP", "..\\x"}}, false), journal), RecordError::badName);
    EXPECT_EQ(ReadJournal(JournalText({{true, a, "x.txt", "x.txt"}}, false), journal), RecordError::badName);
    EXPECT_EQ(ReadJournal(JournalText({{true, a, "x:s.uTMP", "y"}}, false), journal), RecordError::badName);
    // Version 2 moves a download only over the file of its own name.
    EXPECT_EQ(ReadJournal(JournalText({{true, a, "tool.exe.uTMP", "freshet.exe"}}, false), journal),
              RecordError::badName);
    EXPECT_EQ(ReadJournal(JournalText({{true, a, "a.uTMP", "a"}, {false, a, "A.uTMP", "A"}}, false), journal),
              RecordError::duplicate);
    EXPECT_EQ(ReadJournal(JournalText({{true, a.substr(1), "a.uTMP", "a"}}, false), journal), RecordError::garbled);
    EXPECT_EQ(ReadJournal("keldora-update-journal 2\nmove\t2\t" + a + "\ta.uTMP\ta\nplanned\t1\n", journal),
              RecordError::garbled);
    EXPECT_EQ(ReadJournal("keldora-update-journal 2\nmove\t1\ta.uTMP\ta\nplanned\t1\n", journal),
              RecordError::garbled);
}

TEST(StubRecords, AVersion1JournalOfTheOldStubIsStillRead)
{
    // Without digests, and with the renamed program the old stub allowed.
    const std::string old = "keldora-update-journal 1\nmove\t1\tapp.exe.uTMP\tapp.exe\n"
                            "move\t1\ttool.exe.uTMP\tfreshet.exe\nplanned\t2\ncommit\n";
    Journal journal;
    ASSERT_EQ(ReadJournal(old, journal), RecordError::none);
    EXPECT_EQ(journal.version, 1);
    EXPECT_TRUE(journal.committed);
    std::string_view lines = journal.moveLines;
    JournalMove move;
    ASSERT_TRUE(NextJournalMove(lines, move));
    EXPECT_EQ(move.sha256, "");
    EXPECT_EQ(move.pending, "app.exe.uTMP");
    ASSERT_TRUE(NextJournalMove(lines, move));
    EXPECT_EQ(move.pending, "tool.exe.uTMP");
    EXPECT_EQ(move.target, "freshet.exe");
    EXPECT_EQ(ReadJournal("keldora-update-journal 1\nmove\t1\t" + std::string(64, 'a') +
                              "\ta.uTMP\ta\nplanned\t1\n",
                          journal),
              RecordError::garbled)
        << "a version 1 line has no digest";
}

TEST(StubRecords, OutcomesReadBackAndTextStaysOneLine)
{
    char buffer[256];
    RecordText out(buffer, sizeof buffer);
    WriteOutcome(out, 9, "lib.dll\tdoes not match\r\nits digest");
    Outcome outcome;
    ASSERT_EQ(ReadOutcome(out.Text(), outcome), RecordError::none);
    EXPECT_EQ(outcome.code, 9);
    EXPECT_EQ(outcome.text, "lib.dll does not match  its digest");
    EXPECT_EQ(ReadOutcome(std::string(out.Text()).substr(0, out.Text().size() - 4), outcome), RecordError::truncated);
    EXPECT_EQ(ReadOutcome("keldora-update-outcome 1\nexit\t256\ntext\tx\nend\n", outcome), RecordError::garbled);

    char small[16];
    RecordText cut(small, sizeof small);
    WriteOutcome(cut, 0, "too long for the buffer");
    EXPECT_TRUE(cut.Cut());
    EXPECT_EQ(cut.Text(), "");
}

TEST(StubRecords, PlainFileNames)
{
    for (const char* name : {"app.exe", "Jörg 产品.txt", "a b+c", "CONFIG", "COM0", "x.uTMP.txt", "~$tmp"})
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    for (const char* name : {"", ".", "..", "a\\b", "a/b", "a:b", "a*b", "a?b", "a\"b", "a<b", "a|b", "a\x01",
                             "a\x7f", "nul", "Lpt1.dll", "end.", "end ", "x.UTMP", "x.ubak", "UPDATE.LOCK",
                             "update.outcome", "\xFF"})
        EXPECT_FALSE(IsPlainFileName(name)) << name;
}

}  // namespace
