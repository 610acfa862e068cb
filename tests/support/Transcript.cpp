#include "Transcript.h"

#include <vector>

#include "sim/Text.h"

namespace testsupport {

namespace {

constexpr size_t kContext = 60;

class Matcher {
public:
    Matcher(const std::string& golden, const std::string& actual) : golden_(golden), actual_(actual) {}

    std::string Run() {
        while (g_ < golden_.size()) {
            const std::string field = FieldAt(g_);
            if (field.empty()) {
                if (a_ >= actual_.size() || actual_[a_] != golden_[g_])
                    return Differs("the text differs");
                ++g_, ++a_;
                continue;
            }
            g_ += field.size() + 2;
            const std::string problem = MatchField(field);
            if (!problem.empty())
                return problem;
        }
        return a_ == actual_.size() ? std::string() : Differs("the text goes on after the golden end");
    }

private:
    // The name of a field that starts at `at`, or empty when the brace there is literal.
    std::string FieldAt(size_t at) const {
        if (golden_[at] != '{')
            return {};
        const size_t close = golden_.find('}', at);
        if (close == std::string::npos)
            return {};
        const std::string name = golden_.substr(at + 1, close - at - 1);
        if (name == "digits" || name == "progress" || name == "progress+beep" || name == "log-progress" ||
            (name.find('|') != std::string::npos && name.find('{') == std::string::npos))
            return name;
        return {};
    }

    std::string MatchField(const std::string& field) {
        if (field == "digits") {
            while (a_ < actual_.size() && actual_[a_] >= '0' && actual_[a_] <= '9')
                ++a_;
            return {};
        }
        if (field == "progress")
            return Progress("\b\b\b\b", false);
        if (field == "progress+beep")
            return Progress("\b\b\b\b", true);
        if (field == "log-progress")
            return Progress("    ", false);
        size_t start = 0;
        for (;;) {
            const size_t bar = field.find('|', start);
            const std::string choice = field.substr(start, bar == std::string::npos ? bar : bar - start);
            if (actual_.compare(a_, choice.size(), choice) == 0) {
                a_ += choice.size();
                return {};
            }
            if (bar == std::string::npos)
                return Differs("none of {" + field + "} stands here");
            start = bar + 1;
        }
    }

    std::string Progress(const std::string& rewind, bool beeping) {
        int previous = -1;
        int backslashes = 0;
        for (size_t turn = 0;; ++turn) {
            if (actual_.compare(a_, rewind.size(), rewind) != 0)
                return Differs("a progress step should start here");
            a_ += rewind.size();
            int percent = 0;
            size_t digits = 0;
            while (a_ < actual_.size() && actual_[a_] >= '0' && actual_[a_] <= '9') {
                percent = percent * 10 + (actual_[a_++] - '0');
                ++digits;
            }
            if (digits < 2 || a_ >= actual_.size() || actual_[a_] != '%')
                return Differs("a percentage of two or more digits and '%' should stand here");
            if (percent < previous)
                return Differs("the percentage falls from " + std::to_string(previous));
            ++a_;
            const char spin = "|/-\\"[turn % 4];
            if (a_ >= actual_.size() || actual_[a_] != spin)
                return Differs(std::string("the spinner should show '") + spin + "' here");
            ++a_;
            if (spin == '\\' && ++backslashes % 4 == 0 && beeping) {
                if (a_ >= actual_.size() || actual_[a_] != '\a')
                    return Differs("a bell should follow every fourth '\\'");
                ++a_;
            }
            if (a_ < actual_.size() && actual_[a_] == '\a' && (!beeping || spin != '\\'))
                return Differs("a bell where none belongs");
            if (percent >= 100)
                return {};
            previous = percent;
        }
    }

    std::string Differs(const std::string& what) const {
        const size_t from = a_ > kContext ? a_ - kContext : 0;
        const size_t gFrom = g_ > kContext ? g_ - kContext : 0;
        return what + " at byte " + std::to_string(a_) + " of the text (" + std::to_string(g_) +
               " of the golden form)\n  text:   ..." + sim::Quote(actual_.substr(from, 2 * kContext)) +
               "\n  golden: ..." + sim::Quote(golden_.substr(gFrom, 2 * kContext)) + "\n";
    }

    const std::string& golden_;
    const std::string& actual_;
    size_t g_ = 0;
    size_t a_ = 0;
};

} // namespace

std::string TranscriptMismatch(const std::string& golden, const std::string& actual) {
    return Matcher(golden, actual).Run();
}

} // namespace testsupport
