#include "cli/Options.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace cli {
namespace {

constexpr double kLongestTimeout = 24 * 3600;  // seconds

std::optional<CheckId> CheckFromName(std::string_view name) {
    for (CheckId id : kAllChecks) {
        if (CheckName(id) == name) return id;
    }
    return std::nullopt;
}

void AddChecks(Options& options, std::string_view list) {
    if (list.empty()) throw UsageError("--check attend pcsc, com ou direct");
    while (true) {
        const std::size_t comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        const auto id = CheckFromName(name);
        if (!id) {
            throw UsageError("vérification inconnue « " + std::string(name) +
                             " » : pcsc, com ou direct");
        }
        if (!options.Selected(*id)) options.checks.push_back(*id);
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
}

ColorMode ColorFromName(std::string_view name) {
    if (name == "auto") return ColorMode::Auto;
    if (name == "always") return ColorMode::Always;
    if (name == "never") return ColorMode::Never;
    throw UsageError("--color attend auto, always ou never, pas « " + std::string(name) + " »");
}

void SetTimeout(Options& options, std::string_view text) {
    double seconds = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seconds);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(seconds) ||
        seconds <= 0 || seconds > kLongestTimeout) {
        throw UsageError("--timeout attend un nombre de secondes positif (au plus 86400), pas « " +
                         std::string(text) + " »");
    }
    options.timeout =
        std::chrono::milliseconds(std::max<long long>(1, std::llround(seconds * 1000)));
    options.timeoutText = std::string(text);
}

}  // namespace

std::string_view CheckName(CheckId id) {
    switch (id) {
        case CheckId::Service: return "pcsc";
        case CheckId::Serial: return "com";
        case CheckId::Direct: return "direct";
    }
    return "";
}

bool Options::Selected(CheckId id) const {
    return std::find(checks.begin(), checks.end(), id) != checks.end();
}

std::optional<pcsc::Status> ParseStatusCode(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    // from_chars takes no sign of its own here: only digits may remain.
    if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
    std::uint64_t magnitude = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, magnitude, base);
    if (error != std::errc() || stop != end) return std::nullopt;
    if (negative) {
        if (magnitude > 0x80000000ull) return std::nullopt;
        return static_cast<pcsc::Status>(0x100000000ull - magnitude);
    }
    if (magnitude > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<pcsc::Status>(magnitude);
}

Options ParseArguments(const std::vector<std::string_view>& arguments) {
    Options options;
    bool explainGiven = false;
    bool othersGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        std::string_view name = argument;
        std::optional<std::string_view> inlineValue;
        if (argument.starts_with("--")) {
            if (const std::size_t equal = argument.find('='); equal != std::string_view::npos) {
                name = argument.substr(0, equal);
                inlineValue = argument.substr(equal + 1);
            }
        }
        const auto value = [&]() -> std::string_view {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= arguments.size())
                throw UsageError(std::string(name) + " attend une valeur");
            return arguments[++i];
        };
        const auto flag = [&] {
            if (inlineValue) throw UsageError(std::string(name) + " ne prend pas de valeur");
        };

        if (name == "--help" || name == "-h") {
            flag();
            options.help = true;
        } else if (name == "--version") {
            flag();
            options.version = true;
        } else if (name == "--json") {
            flag();
            options.json = true;
            othersGiven = true;
        } else if (name == "--watch") {
            flag();
            options.watch = true;
            othersGiven = true;
        } else if (name == "--details") {
            flag();
            options.details = true;
            othersGiven = true;
        } else if (name == "--check") {
            AddChecks(options, value());
            othersGiven = true;
        } else if (name == "--color") {
            options.color = ColorFromName(value());
        } else if (name == "--timeout") {
            SetTimeout(options, value());
            othersGiven = true;
        } else if (name == "--explain") {
            const std::string_view code = value();
            options.explain = ParseStatusCode(code);
            if (!options.explain) {
                throw UsageError(
                    "code illisible « " + std::string(code) +
                    " » : un entier sur 32 bits, décimal (signé ou non) ou hexadécimal 0x…");
            }
            explainGiven = true;
        } else if (argument.starts_with("-")) {
            throw UsageError("option inconnue « " + std::string(name) + " »");
        } else {
            throw UsageError("argument inattendu « " + std::string(argument) + " »");
        }
    }
    if (explainGiven && othersGiven) {
        throw UsageError("--explain ne se combine qu'avec --color");
    }
    if (options.checks.empty()) {
        options.checks.assign(std::begin(kAllChecks), std::end(kAllChecks));
    } else {
        std::sort(options.checks.begin(), options.checks.end());
    }
    return options;
}

std::string VersionText() {
    return std::string("vardel-lecteurs-cli ") + VARDEL_VERSION;
}

std::string HelpText() {
    return R"(Usage : vardel-lecteurs-cli [OPTIONS]

Contrôle des lecteurs de cartes à puce (lecteurs Vitale pour Vardel).
Sans option, lance les trois vérifications dans l'ordre des onglets :
  pcsc    Lecteurs PC/SC : les lecteurs vus par le service de cartes à puce
  com     Lecteurs COM (GALSS) : les ports série USB déclarés par le système
  direct  Lecteurs PC/SC (sans ScardSvr) : la bibliothèque appelée directement
puis un bilan : OK, ATTENTION ou ÉCHEC pour chacune, avec ce qu'il faut faire.

Options :
  --check LISTE       vérifications à lancer (pcsc, com, direct ; répétable,
                      ou liste séparée par des virgules)
  --details           sous chaque lecteur vu par le service : nom affiché,
                      fabricant, numéro de série, versions du pilote et du
                      micrologiciel ("-" quand la valeur n'a pas été lue),
                      et sa carte (son ATR décodé)
  --json              un document JSON au lieu du texte
  --watch             lance les vérifications puis suit le service : lecteurs
                      retirés ou trouvés, cartes insérées, retirées,
                      illisibles, service perdu et retrouvé, jusqu'à Ctrl+C
                      (SIGINT) ou SIGTERM
  --color=QUAND       couleurs : auto (terminal seulement), always, never
  --timeout SECONDES  durée maximale d'une exécution sans --watch (10 par défaut)
  --explain CODE      le texte d'un code d'erreur (0x8010001D, -2146435043...)
  -h, --help          cette aide
  --version           la version du programme

Code de sortie (la première règle qui s'applique) :
  64  ligne de commande incorrecte
   3  un appel au service n'a pas répondu (--timeout, ou arrêt impossible en 2 s)
   4  une vérification s'est arrêtée sur une erreur (texte sur la sortie d'erreur)
   0  un lecteur a été trouvé (pcsc ou direct), ou, avec --check com seul,
      un port série USB
   2  le service ou la bibliothèque de cartes à puce est injoignable, ou le
      service a répondu mais sa liste de lecteurs n'a pas pu être lue
   1  les vérifications n'ont rien trouvé
  --watch arrêté par SIGINT ou SIGTERM : 0 ; --explain : 0 ; une exécution
  sans --watch interrompue : 128 + numéro du signal (130, 143).
)";
}

}  // namespace cli
