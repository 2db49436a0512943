#include "components/ftpclient/ftp_trace.h"

#include <fstream>

#include "platform/text_rules.h"

namespace tavrel::ftpclient {

std::string maskedCommand(std::string_view command) {
    std::string_view trimmed = platform::trimLeftText(command);
    if (platform::startsWithIgnoringCase(trimmed, "PASS") &&
        (trimmed.size() == 4 || platform::isBlank(trimmed[4])))
        return "PASS ****";
    return std::string(command);
}

std::string traceLine(const platform::DateTime& at, char direction, std::string_view text) {
    std::string line = platform::formatDateTime(at, "yyyy-mm-dd Hh:Nn:Ss");
    line += ' ';
    line += direction;
    line += ' ';
    line += text;
    return line;
}

bool appendTraceLine(const std::filesystem::path& file, std::string_view line) {
    if (file.empty()) return false;
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out.write(line.data(), std::streamsize(line.size()));
    out.put('\n');
    return bool(out);
}

}  // namespace tavrel::ftpclient
