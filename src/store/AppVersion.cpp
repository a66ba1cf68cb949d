#include "store/AppVersion.h"

#include <QHashFunctions>

size_t qHash(const AppVersion& version, size_t seed)
{
    seed = qHash(version.externalID, seed);
    seed = version.displayVersion ? qHashMulti(seed, true, *version.displayVersion) : qHash(false, seed);
    return version.releaseDate ? qHashMulti(seed, true, *version.releaseDate) : qHash(false, seed);
}
