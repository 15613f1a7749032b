#pragma once
// A call's body, from its JSON envelope to the request the registry runs:
// {"server": ..., "method": ..., "args": [...], "byRef": [...]}. Every fault
// of the body is the caller's and raises BadRequest.

#include "registry.h"

#include <core/datapacket.h>

namespace server {

/// Bounds on one call's body, applied while it is decoded: a body of any
/// shape is refused at a memory cost bounded by them, never by its size.
core::codec::DecodeLimits callLimits();

/// The request in a body read whole by `body`; `label` is set to
/// "Server.Method" as soon as both are known (for the log of a refusal).
CallRequest parseRequest(core::codec::EnvelopeReader& body, QString& label, const Registry& registry);

/// A body refused while it was read: names the argument whose rows were
/// being read, or the body.
QString bodyFault(const core::codec::EnvelopeReader& body, const core::Error& e);

} // namespace server
