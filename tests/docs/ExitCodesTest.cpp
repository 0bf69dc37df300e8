// The user's documents against cli/ExitCodes.h: each exit-code table has a
// row for every code and for no other, and each row begins with the code's
// words (then ends, or goes on past a space or punctuation), so that a code
// missing, added or reworded in one place fails here.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <string>

#include "cli/ExitCodes.h"

namespace {

// Markdown: rows "| 2 | usage error: ... |", backquotes dropped. Text: the
// rows under a line "Exit codes:", "  2   usage error", each continued on the
// more deeply indented lines below it.
enum class Form { Markdown, Text };
const struct Document {
    const char* path;  // from the source tree's root
    Form form;
} kDocuments[] = {
    {"docs/provisioning.md", Form::Markdown},
    {"packaging/README.txt.in", Form::Text},
};

size_t Code(const std::string& line, size_t at, int& code)
{
    size_t end = at;
    while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end])))
        ++end;
    code = end > at && end - at < 4 ? std::stoi(line.substr(at, end - at)) : -1;
    return end;
}

// Each code's row, and how many rows named it.
void Rows(const Document& document, std::map<int, std::string>& rows, std::map<int, int>& count)
{
    std::ifstream file(std::string(VARNOCK_SOURCE_DIR "/") + document.path);
    ASSERT_TRUE(file) << document.path;
    std::string line;
    int last = -1;  // the text row being continued
    bool inTable = false;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        int code = -1;
        if (document.form == Form::Markdown) {
            const size_t at = Code(line, 2, code) + 3, end = line.rfind(" |");
            if (line.compare(0, 2, "| ") != 0 || code < 0 || line.compare(at - 3, 3, " | ") != 0 || end < at ||
                end == std::string::npos)
                continue;
            std::string& text = rows[code];
            for (char c : line.substr(at, end - at))
                if (c != '`')
                    text += c;
            ++count[code];
        } else if (line == "Exit codes:") {
            inTable = true;
        } else if (inTable && line.compare(0, 2, "  ") == 0 && Code(line, 2, code) > 2 && code >= 0) {
            const size_t text = line.find_first_not_of(' ', Code(line, 2, code));
            rows[code] = line.substr(text);
            ++count[code];
            last = code;
        } else if (inTable && last >= 0 && line.compare(0, 6, "      ") == 0) {
            rows[last] += " " + line.substr(line.find_first_not_of(' '));
        } else {
            inTable = false;
            last = -1;
        }
    }
}

TEST(ExitCodes, EveryDocumentsTableHasTheWordsOfEveryCodeAndNoOther)
{
    for (const Document& document : kDocuments) {
        std::map<int, std::string> rows;
        std::map<int, int> count;
        Rows(document, rows, count);
        for (const ExitCodeWords& exit : kExitCodeWords) {
            const auto row = rows.find(exit.code);
            if (row == rows.end()) {
                ADD_FAILURE() << document.path << " has no row for exit code " << exit.code;
                continue;
            }
            const std::string& text = row->second;
            const std::string words = exit.words;
            const bool begins =
                text.compare(0, words.size(), words) == 0 &&
                (text.size() == words.size() || !std::isalnum(static_cast<unsigned char>(text[words.size()])));
            EXPECT_TRUE(begins) << document.path << ", exit code " << exit.code << ": \"" << text
                                << "\" does not begin with \"" << words << "\"";
            EXPECT_EQ(count[exit.code], 1) << document.path << " has more than one row for exit code " << exit.code;
            rows.erase(row);
        }
        for (const auto& extra : rows)
            ADD_FAILURE() << document.path << " has a row for exit code " << extra.first
                          << ", which cli/ExitCodes.h lacks";
    }
}

}  // namespace
