// Opening and appending to the event log.
#include "core/event_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>

const char *const LOG_INFO = "[INFO]     ";
const char *const LOG_WARNING = "[WARNING]  ";
const char *const LOG_ERROR = "[ERROR]    ";

std::optional<std::string> event_log::open()
{
    static const char log_name[] = "mstflint.log";
    file_.reset(std::fopen(log_name, "a"));
    if (!file_) {
        const int err = errno;
        std::fprintf(stderr, "FWUPG_ERROR: could not open %s (%d), %s,%d\n", log_name, err, "mstflint", __LINE__);
        return std::string("cannot open ") + log_name + ": " + std::strerror(err);
    }
    for (const auto &[tag, text] : pending_)
        write(tag, text);
    pending_.clear();
    return std::nullopt;
}

void event_log::write_when_open(const char *tag, const std::string &text)
{
    if (file_)
        write(tag, text);
    else
        pending_.emplace_back(tag, text);
}

void event_log::write(const char *tag, const std::string &text)
{
    if (!file_)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char when[64];
    // The 24-character ctime form without its newline.
    std::strftime(when, sizeof when, "%a %b %e %H:%M:%S %Y", &local);
    if (std::fprintf(file_.get(), "%s [%s] %s\n", tag, when, text.c_str()) >= 0 && std::fflush(file_.get()) == 0)
        return;
    // A lost entry could be the only trace of a failed burn: standard error
    // takes it, after one notice per run.
    const int err = errno;
    if (!write_failure_noticed_)
        std::fprintf(stderr, "rovan: cannot write mstflint.log: %s\n", std::strerror(err));
    write_failure_noticed_ = true;
    std::fprintf(stderr, "%s [%s] %s\n", tag, when, text.c_str());
}

std::string log_value(const std::string &value)
{
    std::string text;
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n')
            text += "\\n";
        else if (c == '\t')
            text += "\\t";
        else if (byte < 0x20 || byte == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            text += hex;
        } else
            text += c;
    }
    return text;
}
