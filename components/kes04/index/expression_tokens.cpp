// The tokenizer of key and filter expressions: blanks between tokens, names,
// numbers, text literals in '..', ".." or [..], the dot words (.AND. .OR.
// .NOT. .T. .F. .Y. .N., any case) and the operators.

#include "components/kes04/index/expression_tokens.h"

#include "components/kes04/index/expression.h"
#include "platform/text_rules.h"

namespace tavrel::kes04::cdx {

namespace {

bool isNameStart(char c) { return platform::isAlphaAscii(c) || c == '_'; }
bool isNameChar(char c) {
    return platform::isAlphaAscii(c) || platform::isDigitAscii(c) || c == '_';
}

bool matchDotWord(std::string_view text, size_t i, std::string_view word) {
    if (text.size() - i < word.size() + 2) return false;
    if (text[i + word.size() + 1] != '.') return false;
    for (size_t k = 0; k < word.size(); ++k)
        if (platform::upperAscii(text[i + 1 + k]) != word[k]) return false;
    return true;
}

}  // namespace

bool tokenize(std::string_view text, std::vector<Token>& tokens, std::string& message) {
    const std::string_view t = text;
    size_t i = 0;
    while (i < t.size()) {
        const char c = t[i];
        Token tok;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c == '.') {
            if (matchDotWord(t, i, "AND")) {
                tok.kind = Tok::And, i += 5;
            } else if (matchDotWord(t, i, "OR")) {
                tok.kind = Tok::Or, i += 4;
            } else if (matchDotWord(t, i, "NOT")) {
                tok.kind = Tok::Not, i += 5;
            } else if (matchDotWord(t, i, "T") || matchDotWord(t, i, "Y")) {
                tok.kind = Tok::True, i += 3;
            } else if (matchDotWord(t, i, "F") || matchDotWord(t, i, "N")) {
                tok.kind = Tok::False, i += 3;
            } else if (!tokens.empty() && tokens.back().kind == Tok::Name && i + 1 < t.size() &&
                       isNameStart(t[i + 1])) {
                tok.kind = Tok::Alias, i += 1;
            } else if (i + 1 < t.size() && platform::isDigitAscii(t[i + 1])) {
                goto number;
            } else {
                message = "unexpected '.' at position " + std::to_string(i + 1);
                return false;
            }
            tokens.push_back(std::move(tok));
            continue;
        }
        if (platform::isDigitAscii(c)) {
        number:
            size_t s = i;
            while (i < t.size() && platform::isDigitAscii(t[i])) ++i;
            if (i < t.size() && t[i] == '.' && !(i + 1 < t.size() && isNameStart(t[i + 1]))) {
                ++i;
                while (i < t.size() && platform::isDigitAscii(t[i])) ++i;
            }
            tok.kind = Tok::Number;
            tok.text = std::string(t.substr(s, i - s));
            tok.number = numberFromText(tok.text);
            tokens.push_back(std::move(tok));
            continue;
        }
        if (c == '\'' || c == '"' || c == '[') {
            const char close = c == '[' ? ']' : c;
            size_t e = t.find(close, i + 1);
            if (e == std::string_view::npos) {
                message = "unterminated text literal";
                return false;
            }
            tok.kind = Tok::String;
            tok.text = std::string(t.substr(i + 1, e - i - 1));
            i = e + 1;
            tokens.push_back(std::move(tok));
            continue;
        }
        if (isNameStart(c)) {
            size_t s = i;
            while (i < t.size() && isNameChar(t[i])) ++i;
            tok.kind = Tok::Name;
            tok.text = std::string(t.substr(s, i - s));
            tokens.push_back(std::move(tok));
            continue;
        }
        auto two = [&](const char* s) { return t.substr(i, 2) == s; };
        if (two("->")) {
            tok.kind = Tok::Alias, i += 2;
        } else if (two("==")) {
            tok.kind = Tok::EqEq, i += 2;
        } else if (two("<>") || two("!=")) {
            tok.kind = Tok::Ne, i += 2;
        } else if (two("<=")) {
            tok.kind = Tok::Le, i += 2;
        } else if (two(">=")) {
            tok.kind = Tok::Ge, i += 2;
        } else {
            switch (c) {
                case '(':
                    tok.kind = Tok::LParen;
                    break;
                case ')':
                    tok.kind = Tok::RParen;
                    break;
                case ',':
                    tok.kind = Tok::Comma;
                    break;
                case '+':
                    tok.kind = Tok::Plus;
                    break;
                case '-':
                    tok.kind = Tok::Minus;
                    break;
                case '*':
                    tok.kind = Tok::Star;
                    break;
                case '/':
                    tok.kind = Tok::Slash;
                    break;
                case '=':
                    tok.kind = Tok::Eq;
                    break;
                case '#':
                    tok.kind = Tok::Ne;
                    break;
                case '<':
                    tok.kind = Tok::Lt;
                    break;
                case '>':
                    tok.kind = Tok::Gt;
                    break;
                case '!':
                    tok.kind = Tok::Not;
                    break;
                default:
                    message = "unexpected character at position " + std::to_string(i + 1);
                    return false;
            }
            ++i;
        }
        tokens.push_back(std::move(tok));
    }
    tokens.push_back(Token{});
    return true;
}

}  // namespace tavrel::kes04::cdx
