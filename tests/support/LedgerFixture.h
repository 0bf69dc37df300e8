// The ledger's header, written out by hand: tests check the program's header
// against it, so it must not come from the code under test.
#pragma once

#include <cstddef>
#include <string>

namespace fixture {

inline const std::string kBom = "\xEF\xBB\xBF";
inline const std::string kHeader =
    "time,station,event,old_serial,new_serial,hardware,firmware,product,record,exit_code";
inline const std::string kStart = kBom + kHeader + "\r\n";  // a ledger of no rows
constexpr size_t kColumns = 10;

}  // namespace fixture
