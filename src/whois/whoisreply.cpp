#include "whois/whoisreply.h"

namespace {

FailureReason kindOf(Whois43Answer::Failure failure)
{
    using F = Whois43Answer::Failure;
    switch (failure) {
    case F::HostNotFound:
    case F::ConnectRefused:
    case F::Reset:
        return FailureReason::Refused;
    case F::ConnectTimeout:
    case F::Timeout:
        return FailureReason::Timeout;
    case F::TooLarge:
        return FailureReason::TooLarge;
    case F::RefusedPrivateAddress:
        return FailureReason::Redirect;
    case F::None:
    case F::NetworkError:
    case F::Aborted:
        break;
    }
    return FailureReason::Network;
}

} // namespace

WhoisReply whoisReplyOf(const Whois43Answer &answer)
{
    if (answer.ok)
        return answer;
    return Failure(LookupError{kindOf(answer.failure), answer.reason});
}
