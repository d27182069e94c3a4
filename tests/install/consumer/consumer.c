/* Loads the installed module as a host would and checks what it describes of itself. */
#include <dlfcn.h>
#include <stdio.h>

#include <vellix/host_abi.h>

int main(void) {
  void* module = dlopen(VELLIX_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (module == NULL) {
    fprintf(stderr, "consumer: %s\n", dlerror());
    return 1;
  }
  VxGetRunObjectInfosFn infos = (VxGetRunObjectInfosFn)dlsym(module, "GetRunObjectInfos");
  if (infos == NULL) {
    fprintf(stderr, "consumer: GetRunObjectInfos is not exported\n");
    return 1;
  }
  VxDescription d = {0};
  infos(NULL, &d);
  printf("conditions=%u actions=%u expressions=%u editdata=%u identifier=%08x\n", d.conditionCount,
         d.actionCount, d.expressionCount, d.editDataSize, d.identifier);
  const int ok = d.conditionCount == VX_CONDITION_COUNT && d.actionCount == VX_ACTION_COUNT &&
                 d.expressionCount == VX_EXPRESSION_COUNT && d.editDataSize == VX_EDIT_DATA_SIZE &&
                 d.identifier == VX_IDENTIFIER;
  dlclose(module);
  return ok ? 0 : 1;
}
