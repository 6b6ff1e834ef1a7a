#include "slavetypes.h"

void registerLinkMetaTypes()
{
    static const bool done = [] {
        qRegisterMetaType<QList<Axit_t>>("QList<Axit_t>");
        qRegisterMetaType<QList<AxitSingle_t>>("QList<AxitSingle_t>");
        qRegisterMetaType<QList<singleDemarcateInfoUnit_t>>("QList<singleDemarcateInfoUnit_t>");
        qRegisterMetaType<QList<short>>("QList<short>");
        qRegisterMetaType<QList<Axit_t>>("QList<Axit_t>&");
        qRegisterMetaType<QList<AxitSingle_t>>("QList<AxitSingle_t>&");
        qRegisterMetaType<QList<singleDemarcateInfoUnit_t>>("QList<singleDemarcateInfoUnit_t>&");
        qRegisterMetaType<QList<short>>("QList<short>&");
        return true;
    }();
    (void)done;
}

// Registered before main() runs, so even a connection made ahead of the link exists can queue them.
static const int linkMetaTypesAtStartup = (registerLinkMetaTypes(), 0);
