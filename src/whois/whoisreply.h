#pragma once

#include "lookup/lookupresult.h"
#include "net/whois43client.h"
#include "platform/result.h"

// How one port-43 hop ended: the server's whole answer, or why there is none (the transport
// failed, or the run's scheduler gave the request up).
using WhoisReply = Result<Whois43Answer, LookupError>;

// A transport's answer as a reply: whole, or its failure with the transport's words.
WhoisReply whoisReplyOf(const Whois43Answer &answer);
