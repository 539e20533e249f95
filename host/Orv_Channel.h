// The base class of every channel. Plug-ins derive their channels from it;
// the order of the virtual operations is part of the interface.
#pragma once

#include "abi/export.h"
#include "host/ChannelType.h"

#include <string>

class ChannelFeedback;
class Orv_ChannelGroup;
class Orv_List;
class OrvFileLoader;
class OrvFileSaver;
struct ChildInfo;

class KX_HOST_ENGINE_API Orv_Channel {
public:
    Orv_Channel();
    Orv_Channel(const Orv_Channel& other);
    Orv_Channel& operator=(const Orv_Channel& other);

    // Virtual operations, in slot order.
    virtual ~Orv_Channel();
    virtual void CallChannel();
    virtual void OneTimeInitialize();
    virtual void DoEvent(int event, unsigned long data);
    virtual ChannelType GetChannelType();
    // Saves the base's state (name, interface type, time stamp); false when
    // the saver fails.
    virtual bool SaveChannel(OrvFileSaver& saver);
    // Restores what SaveChannel wrote and joins `group`; false, with nothing
    // changed, on a truncated or foreign file.
    virtual bool LoadChannel(OrvFileLoader& loader, Orv_ChannelGroup* group);
    virtual void SetChannelInterfaceType(int type);
    virtual Orv_Channel* GetChannelFromChannel(Orv_Channel* channel, ChildInfo* info);
    virtual unsigned long GetTimeStamp();
    virtual void SetTimeStamp();
    virtual void DoDependencyInit(Orv_List* list);
    virtual void CheckIndexNrRemoval(int index);
    virtual Orv_Channel* GetInternalChild(int index);
    virtual void CheckPublicChannelInstanceRemoval(Orv_Channel* channel, int index);
    virtual void AddMetaData(OrvFileSaver& saver);
    virtual void SetChannelGroup(Orv_ChannelGroup* group);
    virtual ChannelFeedback* GetFeedbackClass();

    void SetChannelName(const char* name);
    // Appends one library file name to the host's dependency list.
    void AddDLLDepend(const char* file, Orv_List* list);

    // The host's own view of the base state.
    const std::string& GetChannelName() const;
    int GetChannelInterfaceType() const;
    Orv_ChannelGroup* GetChannelGroup() const;
    int GetNameChanges() const;

private:
    std::string name_;
    int nameChanges_ = 0;
    int interfaceType_ = 0;
    unsigned long timeStamp_ = 0;
    Orv_ChannelGroup* group_ = nullptr;
};
