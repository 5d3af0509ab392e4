// What the URLs of a copy must be, beyond fitting their records: every one
// names the same installer, and no detour weakens the main URL's pin.
// `sign` and the service apply the same rules.
#pragma once

#include <string>
#include <vector>

#include "tools/tag_payload.h"

// Throws ToolError (usage), naming the option, for a mirror, fallback page or
// ping URL that is not http:// or https://; a mirror whose pin differs from
// the main URL's (also one pinning where the main URL pins nothing) or is
// malformed; a plain http:// mirror of a copy without a pin; a ping URL with
// a fragment, which the fields the program appends would land in; and a
// fallback text without a fallback page, or an empty one.
void RequireSoundTagUrls(const TagTexts& texts);

// One line each (without a prefix): an unpinned http:// main URL, which
// anyone on the way can answer with other bytes, and an http:// ping URL,
// whose fields travel in the clear.
std::vector<std::string> TagUrlWarnings(const TagTexts& texts);
