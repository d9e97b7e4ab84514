# keldora_windows_pch(owner target...): an optimised unit of the Windows
# layers spends a third to a half of its time reading <windows.h> and the
# standard headers. The owner compiles them once; the other targets, built
# with the same flags, reuse its result. The platform-free units and the stub
# (built for size, without exceptions) keep reading their own headers.
function(keldora_windows_pch owner)
    target_precompile_headers(${owner} PRIVATE
        <windows.h> <string> <string_view> <vector> <map> <memory> <functional> <optional> <algorithm>)
    foreach(target ${ARGN})
        target_precompile_headers(${target} REUSE_FROM ${owner})
    endforeach()
endfunction()
