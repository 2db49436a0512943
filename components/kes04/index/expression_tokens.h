// The tokens of key and filter expressions (see expression.h), for the parser
// only: not part of the index library's interface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::kes04::cdx {

enum class Tok : uint8_t {
    End,
    Number,
    String,
    Name,
    LParen,
    RParen,
    Comma,
    Plus,
    Minus,
    Star,
    Slash,
    Eq,
    EqEq,
    Ne,
    Lt,
    Gt,
    Le,
    Ge,
    And,
    Or,
    Not,
    True,
    False,
    Alias
};

struct Token {
    Tok kind = Tok::End;
    std::string text;   // a number as written, a text literal's content, a name
    double number = 0;  // a number's value
};

// Splits `text` into tokens, ending with one Tok::End. Returns false with a
// readable `message` at the first character that starts no token (a syntax
// error); `tokens` then holds what came before it.
bool tokenize(std::string_view text, std::vector<Token>& tokens, std::string& message);

}  // namespace tavrel::kes04::cdx
