#include "app/stages/CardSearch.h"

tagFoundCards FindCards(plat::Platform& platform) {
    tagFoundCards found;
    found.service = std::make_unique<CVskLibrary>(platform);
    if (found.service->InitVSKLibrary() == 0) {
        found.outcome = tagFoundCards::Outcome::ServiceFailed;
        return found;
    }
    found.scan = std::make_unique<CPciScan>(*found.service);
    if (!found.scan->Scan()) {
        found.outcome = tagFoundCards::Outcome::NoCards;
        return found;
    }
    found.count = found.scan->count;
    found.outcome =
        found.count > kMaxCards ? tagFoundCards::Outcome::TooManyCards : tagFoundCards::Outcome::Found;
    return found;
}
