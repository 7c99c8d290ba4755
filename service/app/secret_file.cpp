#include "service/app/secret_file.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace Service {

std::optional<std::string> ReadSecretFile(const std::string& path, std::string& error) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a readable file";
        return std::nullopt;
    }
    if (st.st_mode & S_IROTH) {
        error = "every user can read it (chmod o-r)";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        error = "cannot be read";
        return std::nullopt;
    }
    std::string secret = text.str();
    while (!secret.empty() && (secret.back() == '\n' || secret.back() == '\r' || secret.back() == ' ' ||
                               secret.back() == '\t'))
        secret.pop_back();
    if (secret.empty()) {
        error = "it is empty";
        return std::nullopt;
    }
    if (secret.find_first_of("\r\n") != std::string::npos) {
        error = "it holds more than one line";
        return std::nullopt;
    }
    return secret;
}

}  // namespace Service
