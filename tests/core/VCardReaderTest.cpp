// vCard files as phones, mail programs and address books export them.

#include "contacts/VCardReader.hpp"

#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orlune::core {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::TempDir;

std::string describe(const ContactCard& card) {
    std::string line = card.firstName + "|" + card.middleName + "|" + card.lastName + "|" +
                       card.formattedName + "|" + card.organization + "|";
    for (const auto* list : {&card.nicknames, &card.phones, &card.emails}) {
        for (const auto& item : *list) {
            line += item + ";";
        }
        line += "|";
    }
    return line + card.uid;
}

std::vector<std::string> describe(const std::vector<ContactCard>& cards) {
    std::vector<std::string> lines;
    for (const auto& card : cards) {
        lines.push_back(describe(card));
    }
    return lines;
}

// One file with a card of each version and the habits each brings.
const std::string kExport =
    // A BOM, CRLF line ends; 3.0 as the macOS address book writes it: folded
    // lines, grouped properties, typed parameters, escaped commas.
    "\xEF\xBB\xBF"
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "N:Day;Jessica;Marie;;\r\n"
    "FN:Jessica Marie Day\r\n"
    "NICKNAME:Jess,JD\r\n"
    "ORG:Acme\\, Inc.;Sales\r\n"
    "item1.TEL;type=CELL;type=VOICE;type=pref:(555) 010-0001\r\n"
    "item1.X-ABLabel:_$!<Mobile>!$_\r\n"
    "EMAIL;type=INTERNET;type=HOME:jess.day@exam\r\n"
    " ple.com\r\n"
    "NOTE:Met at the climbing gym\\; likes tea\r\n"
    "UID:6B29FC40-CA47-1067-B31D-00DD010662DA\r\n"
    "END:VCARD\r\n"
    // 4.0 with LF line ends: UTF-8 text, quoted parameters, a tel: URI with
    // an extension, a tab-folded line.
    "BEGIN:VCARD\n"
    "VERSION:4.0\n"
    "FN:Zoë Müller\n"
    "N:Müller;Zoë;;;\n"
    "TEL;VALUE=uri;TYPE=\"voice,cell\":tel:+44-20-7946-0958;ext=12\n"
    "EMAIL;PREF=1:mailto:zoe@\n"
    "\texample.de\n"
    "END:VCARD\n"
    // 2.1 from an old phone: quoted-printable in Latin-1 and in UTF-8 with a
    // soft line break, bare types, a photo in base64 and an agent's card
    // nested inside, neither of which is a contact of its own.
    "BEGIN:VCARD\r\n"
    "VERSION:2.1\r\n"
    "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Andr=E9;Fran=E7ois\r\n"
    "FN;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:Fran=C3=A7ois Andr=\r\n"
    "=C3=A9\r\n"
    "TEL;CELL;VOICE:555.010.0003\r\n"
    "PHOTO;ENCODING=BASE64;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD\r\n"
    " /2wBDAAgGBgcGBQgHBwcJCQgKDBQNDAsLDBkSEw8UHRofHh0aHBwg\r\n"
    "\r\n"
    "AGENT:\r\n"
    "BEGIN:VCARD\r\n"
    "N:Assistant;Anna\r\n"
    "TEL:555-010-0999\r\n"
    "END:VCARD\r\n"
    "END:VCARD\r\n"
    // A card with nothing to match on, and a last one cut off before END.
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "NOTE:just a note\r\n"
    "END:VCARD\r\n"
    "BEGIN:VCARD\r\n"
    "VERSION:3.0\r\n"
    "ORG:Corner Bakery\r\n"
    "TEL:+1 555 010 0042\r\n";

TEST(VCardReaderParse, EveryVersionsHabitsAreReadIntoCards) {
    const auto cards = VCardReader::parse(kExport, "contacts.vcf", 3);
    EXPECT_THAT(describe(cards),
                ElementsAre("Jessica|Marie|Day|Jessica Marie Day|Acme, Inc.|Jess;JD;|"
                            "(555) 010-0001;|jess.day@example.com;|"
                            "6B29FC40-CA47-1067-B31D-00DD010662DA",
                            "Zoë||Müller|Zoë Müller|||+44-20-7946-0958;|zoe@example.de;|"
                            "contacts.vcf#2",
                            "François||André|François André|||555.010.0003;||contacts.vcf#3",
                            "||||Corner Bakery||+1 555 010 0042;||contacts.vcf#5"));
    for (const auto& card : cards) {
        EXPECT_EQ(card.source, "contacts.vcf");
        EXPECT_EQ(card.sourceIndex, 3);
    }
}

TEST(VCardReaderParse, MalformedTextGivesWhatCanBeReadAndNeverThrows) {
    struct Case {
        std::string text;
        std::vector<std::string> cards;
    };
    const Case cases[] = {
        {"", {}},
        {"not a vcard at all", {}},
        // Stray END lines and a line without a colon are passed over.
        {"END:VCARD\r\nBEGIN:VCARD\r\nno colon here\r\nFN:Kept\r\nEND:VCARD\r\nEND:VCARD\r\n",
         {"|||Kept|||||#1"}},
        // Ill-formed UTF-8 and "=" that starts no hex pair.
        {"BEGIN:VCARD\r\nFN:Bad \xC3\x28 bytes\r\nN;ENCODING=QUOTED-PRINTABLE:=ZZ;=4\r\nEND:VCARD",
         {"=4||=ZZ|Bad \xEF\xBF\xBD( bytes|||||#1"}},
        // A charset no converter knows: the bytes are taken as UTF-8.
        {"BEGIN:VCARD\r\nN;CHARSET=NO-SUCH-CHARSET;ENCODING=QUOTED-PRINTABLE:Ren=C3=A9\r\nEND:"
         "VCARD",
         {"||René||||||#1"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe(VCardReader::parse(c.text, "", 0)), c.cards) << c.text;
    }
}

// Each is refused at once, with the reason, and nothing more is read: a pipe
// with no writer would block for ever, a device never ends.
TEST(VCardReaderFile, WhatIsNotAReadableVCardFileIsAnErrorSayingWhy) {
    TempDir dir;
    testing::writeFile(dir.file("notes.vcf"), "shopping list\nbegin vcard\n");
    std::filesystem::create_directories(dir.file("folder.vcf"));
    ASSERT_EQ(::mkfifo(dir.file("pipe.vcf").c_str(), 0600), 0);
    { std::ofstream sparse(dir.file("huge.vcf"), std::ios::binary); }
    std::filesystem::resize_file(dir.file("huge.vcf"), VCardReader::kMaxFileBytes + 1);
    struct Case {
        std::string path;
        std::string reason;
    };
    const Case cases[] = {
        {dir.file("missing.vcf"), "No such file or directory"},
        {dir.file("notes.vcf"), "it holds no vCard (no BEGIN:VCARD line)"},
        {dir.file("folder.vcf"), "it is a folder; name a .vcf file inside it"},
        {dir.file("pipe.vcf"), "it is not a regular file (a device, pipe or socket)"},
        {"/dev/zero", "it is not a regular file (a device, pipe or socket)"},
        {dir.file("huge.vcf"), "it is larger than 128 MiB; split it into smaller files"},
    };
    for (const Case& c : cases) {
        try {
            VCardReader::readFile(c.path, 0);
            ADD_FAILURE() << c.path;
        } catch (const VCardReader::Error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "vCard file " + c.path + " could not be read: " + c.reason);
        }
    }
}

// A file is read in pieces: a BOM, a CRLF and a folded line that fall on the
// pieces' edges read as they do in one text.
TEST(VCardReaderFile, AFileReadsAsItsWholeTextDoes) {
    TempDir dir;
    const std::string card =
        "BEGIN:VCARD\r\nFN:Sam Lee\r\nEMAIL:sam@exam\r\n ple.com\r\nEND:VCARD\r\n";
    for (size_t pad : {size_t{0}, size_t{1}, size_t{2}, size_t{3}}) {
        // Padding before the cards moves the 64 KiB edge across a CRLF, a
        // fold and (at the start of the next piece) a line.
        std::string text =
            "\xEF\xBB\xBF" + std::string("NOTE:") + std::string(65536 - 12 - pad, 'x') + "\r\n";
        for (int i = 0; i < 3; ++i) {
            text += card;
        }
        testing::writeFile(dir.file("cards.vcf"), text);
        EXPECT_EQ(describe(VCardReader::readFile(dir.file("cards.vcf"), 0)),
                  describe(VCardReader::parse(text, dir.file("cards.vcf"), 0)))
            << pad;
        EXPECT_EQ(VCardReader::readFile(dir.file("cards.vcf"), 0).size(), 3u) << pad;
    }
}

// Long content: 320,000 folded pieces and soft line breaks (which once made
// the reading quadratic) give one joined value; a line over 1 MiB is skipped
// and the lines after it are read.
TEST(VCardReaderParse, LongFoldedLinesAreJoinedAndOverlongOnesSkipped) {
    std::string name;
    std::string text = "BEGIN:VCARD\r\nN;ENCODING=QUOTED-PRINTABLE:Day;";
    for (int i = 0; i < 160000; ++i) {
        text += "J=\r\n";
        name += "J";
    }
    text += "ess\r\nNOTE:";
    for (int i = 0; i < 160000; ++i) {
        text += "note\r\n ";
    }
    text += "end\r\nFN:" + std::string(2 << 20, 'A') + "\r\n";
    // An overlong line's soft line break still joins the next line to it.
    text += "NOTE;ENCODING=QUOTED-PRINTABLE:" + std::string(2 << 20, 'B') + "=\r\nTEL:999\r\n";
    text += "TEL:555-010-0001\r\nEND:VCARD\r\n";
    EXPECT_THAT(describe(VCardReader::parse(text, "", 0)),
                ElementsAre(name + "ess||Day||||555-010-0001;||#1"));
}

} // namespace
} // namespace orlune::core
