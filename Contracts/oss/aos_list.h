// Intrusive doubly linked list: a record embeds an aos_list_t link and is
// chained into a head without any further allocation.
#ifndef CONTRACTS_OSS_AOS_LIST_H
#define CONTRACTS_OSS_AOS_LIST_H

#include <stddef.h>

typedef struct aos_list_s {
    struct aos_list_s* next;
    struct aos_list_s* prev;
} aos_list_t;

static inline void aos_list_init(aos_list_t* head) {
    head->next = head;
    head->prev = head;
}

static inline int aos_list_empty(const aos_list_t* head) {
    return head->next == head;
}

static inline void aos_list_add_tail(aos_list_t* node, aos_list_t* head) {
    node->prev = head->prev;
    node->next = head;
    head->prev->next = node;
    head->prev = node;
}

// Moves every node of `from` to the end of `to`; `from` ends empty.
static inline void aos_list_splice_tail(aos_list_t* from, aos_list_t* to) {
    if (aos_list_empty(from)) return;
    from->next->prev = to->prev;
    to->prev->next = from->next;
    from->prev->next = to;
    to->prev = from->prev;
    aos_list_init(from);
}

#define aos_list_entry(ptr, type, member) ((type*)((char*)(ptr)-offsetof(type, member)))

// for (each record `pos` of type `postype` chained through `member`)
#define aos_list_for_each_entry(postype, pos, head, member)                           \
    for (pos = aos_list_entry((head)->next, postype, member); &pos->member != (head); \
         pos = aos_list_entry(pos->member.next, postype, member))

#endif  // CONTRACTS_OSS_AOS_LIST_H
