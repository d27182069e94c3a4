// The three routine tables the host receives. Each entry names its body and, beside it,
// the frame it runs in, so the steps around every routine can be read off at a glance.
#include "host/tables.h"

#include "host/routines.h"

namespace vellix {

const VxRoutine kConditions[kConditionCount] = {
    Condition<&CurrentGroupExists, Frame::Plain>,         // 0
    Condition<&CurrentGroupHasItem, Frame::Plain>,        // 1
    Condition<&CurrentItemEqualsHashed, Frame::Plain>,    // 2
    Condition<&GroupExistsCondition, Frame::Plain>,       // 3
    Condition<&GroupHasItem, Frame::Plain>,               // 4
    Condition<&ItemEqualsHashedCondition, Frame::Plain>,  // 5
    Condition<&WildcardMatchCondition, Frame::Plain>,     // 6
    Condition<&Trigger, Frame::None>,                     // 7
    Condition<&Trigger, Frame::None>,                     // 8
    Condition<&Trigger, Frame::None>,                     // 9
    Condition<&Trigger, Frame::None>,                     // 10
    Condition<&Trigger, Frame::None>,                     // 11
    Condition<&Trigger, Frame::None>,                     // 12
    Condition<&Trigger, Frame::None>,                     // 13
    Condition<&Trigger, Frame::None>,                     // 14
    Condition<&Trigger, Frame::None>,                     // 15
    Condition<&Trigger, Frame::None>,                     // 16
    Condition<&Trigger, Frame::None>,                     // 17
    Condition<&UndoAvailableCondition, Frame::Plain>,     // 18
    Condition<&RedoAvailableCondition, Frame::Plain>,     // 19
};

const VxRoutine kActions[kActionCount] = {
    Action<&SetCurrentGroup, Frame::Plain>,                     // 0
    Action<&SetItemNumberCurrent, Frame::Modifying>,            // 1
    Action<&SetItemStringCurrent, Frame::Modifying>,            // 2
    Action<&SetItemHashedCurrent, Frame::Modifying>,            // 3
    Action<&SaveObject, Frame::Modifying>,                      // 4
    Action<&LoadObject, Frame::Plain>,                          // 5
    Action<&SavePositionCurrent, Frame::Modifying>,             // 6
    Action<&SaveGlobalValues, Frame::Modifying>,                // 7
    Action<&LoadGlobalValues, Frame::Plain>,                    // 8
    Action<&DeleteCurrentGroup, Frame::Modifying>,              // 9
    Action<&DeleteItemCurrent, Frame::Modifying>,               // 10
    Action<&RenameCurrentGroup, Frame::Modifying>,              // 11
    Action<&RenameItemCurrent, Frame::Modifying>,               // 12
    Action<&MoveItemCurrent, Frame::Modifying>,                 // 13
    Action<&SetItemNumber, Frame::Modifying>,                   // 14
    Action<&SetItemString, Frame::Modifying>,                   // 15
    Action<&SetItemHashedInGroup, Frame::Modifying>,            // 16
    Action<&SaveObjectToGroup, Frame::Modifying>,               // 17
    Action<&LoadObjectFromGroup, Frame::Plain>,                 // 18
    Action<&SavePositionToGroup, Frame::Modifying>,             // 19
    Action<&SaveGlobalValuesToGroup, Frame::Modifying>,         // 20
    Action<&LoadGlobalValuesFromGroup, Frame::Plain>,           // 21
    Action<&RenameGroupAction, Frame::Modifying>,               // 22
    Action<&RenameItemInGroup, Frame::Modifying>,               // 23
    Action<&MoveItemAction, Frame::Modifying>,                  // 24
    Action<&MoveItemToGroup, Frame::Modifying>,                 // 25
    Action<&CopyGroupAction, Frame::Modifying>,                 // 26
    Action<&CopyItemAction, Frame::Modifying>,                  // 27
    Action<&DeleteGroupAction, Frame::Modifying>,               // 28
    Action<&DeleteItemAction, Frame::Modifying>,                // 29
    Action<&DeleteItemEverywhereAction, Frame::Modifying>,      // 30
    Action<&DeleteByPattern, Frame::Modifying>,                 // 31
    Action<&ClearAllAction, Frame::Modifying>,                  // 32
    Action<&FindItems, Frame::Plain>,                           // 33
    Action<&FindRepeats, Frame::Plain>,                         // 34
    Action<&ClearResults, Frame::Plain>,                        // 35
    Action<&SearchIntoFile, Frame::Plain>,                      // 36
    Action<&SearchIntoObject, Frame::Plain>,                    // 37
    Action<&MergeFromFile, Frame::Modifying>,                   // 38
    Action<&MergeGroupFromFile, Frame::Modifying>,              // 39
    Action<&MergeFromObject, Frame::Modifying>,                 // 40
    Action<&MergeGroupFromObject, Frame::Modifying>,            // 41
    Action<&NewIni, Frame::ModifyingSettings>,                  // 42
    Action<&LoadIni, Frame::ModifyingSettings>,                 // 43
    Action<&SaveIni, Frame::Plain>,                             // 44
    Action<&SaveIniAs, Frame::Settings>,                        // 45
    Action<&BackupIni, Frame::Plain>,                           // 46
    Action<&CloseIni, Frame::Settings>,                         // 47
    Action<&LoadTextIntoIni, Frame::Modifying>,                 // 48
    Action<&SetAutoSave, Frame::Settings>,                      // 49
    Action<&SetCompression, Frame::Settings>,                   // 50
    Action<&SetEncryption, Frame::Settings>,                    // 51
    Action<&SetReadOnly, Frame::Settings>,                      // 52
    Action<&SetCaseSensitiveAction, Frame::ModifyingSettings>,  // 53
    Action<&SetEscapes, Frame::Settings>,                       // 54
    Action<&SetQuoteStrings, Frame::Settings>,                  // 55
    Action<&SetRepeatModes, Frame::Settings>,                   // 56
    Action<&SetNewLineString, Frame::Settings>,                 // 57
    Action<&SetDefaultDirectory, Frame::Plain>,                 // 58
    Action<&CompressFileAction, Frame::Plain>,                  // 59
    Action<&DecompressFileAction, Frame::Plain>,                // 60
    Action<&OpenDialog, Frame::Plain>,                          // 61
    Action<&AddRepeated, Frame::Modifying>,                     // 62
    Action<&CloseDialog, Frame::None>,                          // 63
    Action<&RefreshDialog, Frame::Plain>,                       // 64
    Action<&CsvImportExport, Frame::Plain>,                     // 65
    Action<&CsvArrayImportExport, Frame::Plain>,                // 66
    Action<&PutChartData, Frame::Plain>,                        // 67
    Action<&FindSubgroups, Frame::Plain>,                       // 68
    Action<&SetSubgroups, Frame::GuardedSettings>,              // 69
    Action<&ChangeGlobalSlot, Frame::Plain>,                    // 70
    Action<&GroupOperation, Frame::Guarded>,                    // 71
    Action<&SetItemPart, Frame::Guarded>,                       // 72
    Action<&LoadArrayIntoGroup, Frame::Guarded>,                // 73
    Action<&PutGroupIntoArray, Frame::Guarded>,                 // 74
    Action<&GetChartData, Frame::Modifying>,                    // 75
    Action<&GetChartProperties, Frame::Modifying>,              // 76
    Action<&PutChartProperties, Frame::Plain>,                  // 77
    Action<&LoadWithOptions, Frame::UndoFirstSettings>,         // 78
    Action<&PerformUndoAction, Frame::Plain>,                   // 79
    Action<&PerformRedoAction, Frame::Plain>,                   // 80
    Action<&ClearUndoAction, Frame::Plain>,                     // 81
    Action<&AddUndoBlockAction, Frame::Plain>,                  // 82
    Action<&SetAutomaticUndoAction, Frame::Plain>,              // 83
};

const VxRoutine kExpressions[kExpressionCount] = {
    Expression<&GetItemValueCurrent, Frame::Plain>,     // 0
    Expression<&GetItemStringCurrent, Frame::Plain>,    // 1
    Expression<&PosXCurrent, Frame::Plain>,             // 2
    Expression<&PosYCurrent, Frame::Plain>,             // 3
    Expression<&NthItemNameCurrent, Frame::Plain>,      // 4
    Expression<&NthItemValueCurrent, Frame::Plain>,     // 5
    Expression<&NthItemStringCurrent, Frame::Plain>,    // 6
    Expression<&ItemCountCurrent, Frame::Plain>,        // 7
    Expression<&GetItemValue, Frame::Plain>,            // 8
    Expression<&GetItemString, Frame::Plain>,           // 9
    Expression<&PosX, Frame::Plain>,                    // 10
    Expression<&PosY, Frame::Plain>,                    // 11
    Expression<&NthGroup, Frame::Plain>,                // 12
    Expression<&NthItemName, Frame::Plain>,             // 13
    Expression<&NthItemString, Frame::Plain>,           // 14
    Expression<&NthItemValueExpression, Frame::Plain>,  // 15
    Expression<&GroupCountExpression, Frame::Plain>,    // 16
    Expression<&ItemCountExpression, Frame::Plain>,     // 17
    Expression<&TotalItemsExpression, Frame::Plain>,    // 18
    Expression<&SearchResultsCount, Frame::Plain>,      // 19
    Expression<&SearchGroup, Frame::Plain>,             // 20
    Expression<&SearchItemName, Frame::Plain>,          // 21
    Expression<&SearchItemValue, Frame::Plain>,         // 22
    Expression<&SearchItemString, Frame::Plain>,        // 23
    Expression<&SearchItemPath, Frame::Plain>,          // 24
    Expression<&WriteStream, Frame::Plain>,             // 25
    Expression<&HashExpression, Frame::None>,           // 26
    Expression<&CryptExpression, Frame::None>,          // 27
    Expression<&EscapeExpression, Frame::None>,         // 28
    Expression<&UnescapeExpression, Frame::None>,       // 29
    Expression<&CalcExpression, Frame::Plain>,          // 30
    Expression<&CalcStrExpression, Frame::Plain>,       // 31
    Expression<&NthSortedName, Frame::Plain>,           // 32
    Expression<&NthSortedItem, Frame::Plain>,           // 33
    Expression<&GetCsv, Frame::Plain>,                  // 34
    Expression<&NthOverallItem, Frame::Plain>,          // 35
    Expression<&UniqueItemCount, Frame::None>,          // 36
    Expression<&GetItemPart, Frame::Plain>,             // 37
    Expression<&CurrentGroupName, Frame::None>,         // 38
    Expression<&CurrentGroupString, Frame::Plain>,      // 39
    Expression<&FilenameExpression, Frame::None>,       // 40
};

}  // namespace vellix
