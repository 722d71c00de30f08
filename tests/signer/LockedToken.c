// A PKCS#11 library for tests: SoftHSM underneath, every token reporting a locked user PIN.
// Login itself still works, so a store that tries the PIN anyway is caught.
#define CRYPTOKI_GNU 1
#include <dlfcn.h>
#include <p11-kit/pkcs11.h>

static struct ck_function_list wrapped;
static CK_C_GetTokenInfo realGetTokenInfo;

static ck_rv_t lockedGetTokenInfo(ck_slot_id_t slot, struct ck_token_info *info)
{
    const ck_rv_t rv = realGetTokenInfo(slot, info);
    if (rv == CKR_OK)
        info->flags |= CKF_USER_PIN_LOCKED;
    return rv;
}

__attribute__((visibility("default"))) ck_rv_t C_GetFunctionList(struct ck_function_list **list)
{
    void *softhsm = dlopen(VYR_SOFTHSM2_LIBRARY, RTLD_NOW);
    CK_C_GetFunctionList get = softhsm ? (CK_C_GetFunctionList)dlsym(softhsm, "C_GetFunctionList") : 0;
    struct ck_function_list *real = 0;
    if (!get || get(&real) != CKR_OK)
        return CKR_GENERAL_ERROR;
    wrapped = *real;
    realGetTokenInfo = real->C_GetTokenInfo;
    wrapped.C_GetTokenInfo = lockedGetTokenInfo;
    *list = &wrapped;
    return CKR_OK;
}
