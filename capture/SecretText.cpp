// clipUtils::isSecretText lives with the keywords it needs, so app/ does not
// depend on capture/.
#include "app/clipUtils.h"
#include "capture/ConfigureManager.h"

bool clipUtils::isSecretText(const QString &text)
{
    if (!checkSecret())
        return false;
    return ConfigureManager::instance()->matchesKeyword(text);
}
