#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// The failure texts of a fetch, and its completeness rule.

// "нет доступа в интернет (код " code ")": the internet handle cannot be opened.
std::string NoInternetText(std::uint32_t code);

// "сервер " kSiteHost " недоступен (код " code ")": the address cannot be
// opened; always the site's host, whatever host the address names.
std::string ServerUnreachableText(std::uint32_t code);

// "сервер ответил " status: any status but 200 (0 when it cannot be read).
std::string ServerAnsweredText(std::uint32_t status);

// "связь оборвалась (код " code ")": a read of the body failed.
std::string ConnectionBrokeText(std::uint32_t code);

// The body's length differs from the announced one.
inline constexpr std::string_view kIncompleteBodyText = "файл скачался не целиком";

// Whether a body of received bytes fits the announced length; 0 announces
// nothing, so any length fits.
bool BodyIsComplete(std::uint64_t received, std::uint32_t announced);

}  // namespace kestrova
