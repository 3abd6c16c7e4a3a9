// The operation codes that the editor knows, for telling the operation field of a statement
// apart: machine instructions (the z/Architecture general instructions with their extended
// mnemonics, the common floating-point, control and input/output instructions), assembler
// instructions (among them macro definition and conditional assembly) and everything else,
// which is a macro call.
//
//   LA     machine instruction         BNE, JNE, LOCRE   extended mnemonics, machine too
//   USING  assembler instruction       AIF, SETC, MNOTE  conditional assembly, assembler too
//   SAVE   macro call                  anything not in the table
//
// Case does not matter: the assembler folds operation codes to upper case.
#pragma once

#include <QStringView>

namespace pelda {

enum class OpKind : unsigned char { Macro, Machine, Assembler };

struct OpInfo {
    OpKind kind = OpKind::Macro;
    // The statement has no operand field: what follows the operation is a remark.
    bool noOperands = false;
    // A conditional assembly instruction: its operands are expressions, in which blanks inside
    // parentheses do not end the operand field: AIF (&A EQ 1).DONE
    bool conditional = false;
};

// What the operation code op names; a macro call for anything the table lacks.
OpInfo lookupOperation(QStringView op);

} // namespace pelda
