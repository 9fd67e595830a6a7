// Number templates: file names whose "#" characters are replaced by the digits of a number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvane {

// The template with its "#" characters replaced, left to right, by the number's decimal
// digits ("-" included), zero-padded on the left or cut to its lowest digits to fit.
std::string ApplyNumberTemplate(std::int64_t number, std::string_view name_template);

// How many different names the template can form: 10 to the power of its "#" count,
// held at the largest value when that does not fit.
std::uint64_t NumberTemplateNameCount(std::string_view name_template);

}  // namespace orvane
