#include "worker/fetch_failure_text.h"

#include "common/site.h"

namespace kestrova {

std::string NoInternetText(std::uint32_t code) {
  return "нет доступа в интернет (код " + std::to_string(code) + ")";
}

std::string ServerUnreachableText(std::uint32_t code) {
  return "сервер " + std::string(kSiteHost) + " недоступен (код " + std::to_string(code) + ")";
}

std::string ServerAnsweredText(std::uint32_t status) {
  return "сервер ответил " + std::to_string(status);
}

std::string ConnectionBrokeText(std::uint32_t code) {
  return "связь оборвалась (код " + std::to_string(code) + ")";
}

bool BodyIsComplete(std::uint64_t received, std::uint32_t announced) {
  return announced == 0 || received == announced;
}

}  // namespace kestrova
