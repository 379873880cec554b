#include "instrumentinit.h"

#include "visabinding.h"
#include "visaquery.h"

namespace setup {

Result initInstrument(const Sequence& seq, ViSession rm, const QString& resource, ViSession* session)
{
    if (*session != VI_NULL) {
        VisaClose(*session);
        *session = VI_NULL;
    }
    const auto send = [&](const Step* step, QString* reply) -> ViStatus {
        if (!step)
            return VisaGpibControlREN(*session, VI_GPIB_REN_ADDRESS_GTL);
        switch (step->kind) {
        case StepKind::Open:
            return VisaOpen(rm, resource, VI_NO_LOCK, kInitOpenTimeoutMs, session);
        case StepKind::SetTimeout:
            return VisaSetAttribute(*session, VI_ATTR_TMO_VALUE, step->timeoutMs);
        case StepKind::Query:
            return VisaQuery(*session, step->command, reply);
        }
        return VI_ERROR_NSUP_OPER;
    };
    return run(seq, send);
}

}  // namespace setup
