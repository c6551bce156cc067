// The ends of a mode.
#include "app/mode_end.h"

#include <cstring>

mode_end ended(int status, result_word word, std::optional<std::string> reason)
{
    mode_end end;
    end.result.status = status;
    end.result.result = word;
    end.result.reason = std::move(reason);
    return end;
}

mode_end ended_by_signal(int sig)
{
    mode_end end = ended(128 + sig, result_word::failed, "ended by signal " + std::to_string(sig) + " (" +
                                                              std::string(strsignal(sig)) + ")");
    end.signal = sig;
    return end;
}
