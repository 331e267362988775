# Writes an x86-64 assembly file that stands in for every function a shared library exports, so
# that a program can link against it without naming the library: each function jumps through a
# slot of a table; an empty slot goes to ${PREFIX}_bind with the function's index in %r11, which
# saves every argument register (%al counts the vector registers of a variadic call), asks
# ${PREFIX}_resolve(index) for the address, and jumps there with the arguments as they came.
# The functions are hidden: the program never exports them, so the library, once loaded, keeps
# binding its own calls to itself. Data the library exports cannot be reached this way: a program
# that uses some fails to link.
#
#   cmake -DNM=nm -DLIBRARY=libfoo.so.1 -DPREFIX=qv_foo -DOUTPUT=stub.S -P LazyStub.cmake

foreach(variable NM LIBRARY PREFIX OUTPUT)
    if(NOT ${variable})
        message(FATAL_ERROR "LazyStub.cmake needs -D${variable}=")
    endif()
endforeach()

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE listing RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} could not list ${LIBRARY}: ${errors}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(names "")
foreach(line IN LISTS lines)
    # Only code; a versioned name (foo@@VERS) is bound by its plain name.
    if(line MATCHES "^[0-9a-fA-F]+ [TW] ([A-Za-z_][A-Za-z0-9_]*)(@.*)?$")
        list(APPEND names ${CMAKE_MATCH_1})
    endif()
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
list(LENGTH names count)
if(count EQUAL 0)
    message(FATAL_ERROR "${LIBRARY} exports no functions")
endif()

set(stubs "")
set(strings "")
set(offsets "")
set(index 0)
foreach(name IN LISTS names)
    math(EXPR slot "${index} * 8")
    string(APPEND stubs
        "    .globl ${name}\n    .hidden ${name}\n    .type ${name}, @function\n    .p2align 4\n"
        "${name}:\n"
        "    movq ${PREFIX}_slots+${slot}(%rip), %r11\n"
        "    testq %r11, %r11\n"
        "    jz 1f\n"
        "    jmpq *%r11\n"
        "1:  movl $${index}, %r11d\n"
        "    jmp ${PREFIX}_bind\n"
        "    .size ${name}, .-${name}\n")
    string(APPEND strings ".Lname${index}: .asciz \"${name}\"\n")
    string(APPEND offsets "    .long .Lname${index} - ${PREFIX}_names\n")
    math(EXPR index "${index} + 1")
endforeach()

file(WRITE ${OUTPUT}.tmp "# Made by cmake/LazyStub.cmake from ${LIBRARY}; do not edit.
    .text

# %r11: the index of the function called. The stack is as the caller left it, but for the
# return address: 8 mod 16.
    .p2align 4
    .type ${PREFIX}_bind, @function
${PREFIX}_bind:
    .cfi_startproc
    pushq %rbp
    .cfi_def_cfa_offset 16
    .cfi_offset %rbp, -16
    movq %rsp, %rbp
    .cfi_def_cfa_register %rbp
    pushq %rdi
    pushq %rsi
    pushq %rdx
    pushq %rcx
    pushq %r8
    pushq %r9
    pushq %rax
    pushq %r10
    subq $128, %rsp
    movdqu %xmm0, 0(%rsp)
    movdqu %xmm1, 16(%rsp)
    movdqu %xmm2, 32(%rsp)
    movdqu %xmm3, 48(%rsp)
    movdqu %xmm4, 64(%rsp)
    movdqu %xmm5, 80(%rsp)
    movdqu %xmm6, 96(%rsp)
    movdqu %xmm7, 112(%rsp)
    movl %r11d, %edi
    call ${PREFIX}_resolve
    movq %rax, %r11
    movdqu 0(%rsp), %xmm0
    movdqu 16(%rsp), %xmm1
    movdqu 32(%rsp), %xmm2
    movdqu 48(%rsp), %xmm3
    movdqu 64(%rsp), %xmm4
    movdqu 80(%rsp), %xmm5
    movdqu 96(%rsp), %xmm6
    movdqu 112(%rsp), %xmm7
    addq $128, %rsp
    popq %r10
    popq %rax
    popq %r9
    popq %r8
    popq %rcx
    popq %rdx
    popq %rsi
    popq %rdi
    popq %rbp
    .cfi_def_cfa %rsp, 8
    jmpq *%r11
    .cfi_endproc
    .size ${PREFIX}_bind, .-${PREFIX}_bind

${stubs}
    .section .rodata
    .globl ${PREFIX}_count
    .hidden ${PREFIX}_count
    .p2align 2
${PREFIX}_count:
    .long ${count}
    .globl ${PREFIX}_name_offsets
    .hidden ${PREFIX}_name_offsets
${PREFIX}_name_offsets:
${offsets}
    .globl ${PREFIX}_names
    .hidden ${PREFIX}_names
${PREFIX}_names:
${strings}
    .bss
    .globl ${PREFIX}_slots
    .hidden ${PREFIX}_slots
    .p2align 3
${PREFIX}_slots:
    .zero ${count} * 8

    .section .note.GNU-stack, \"\", @progbits
")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
