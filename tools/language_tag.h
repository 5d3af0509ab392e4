// Language tags as BCP 47 writes them: what a tag's texts language and a
// service's texts tables are named by.
#pragma once

#include <cstddef>
#include <string_view>

// The length BCP 47 asks every implementation to take; longer tags exist
// only in theory.
inline constexpr std::size_t kLanguageTagLimit = 35;

// A well-formed language tag as BCP 47 writes it, in either case: a first
// subtag of 2 to 8 letters, then subtags of 1 to 8 letters or digits, each
// after a hyphen; 35 characters at most. It need not be registered.
bool IsWellFormedLanguageTag(std::string_view tag);
