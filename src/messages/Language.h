#pragma once

namespace praxon {

// The language the front ends speak. The window starts in Chinese; praxon-cli takes it from the
// locale unless told.
enum class Language { Chinese, English };

}  // namespace praxon
