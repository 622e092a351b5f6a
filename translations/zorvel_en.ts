<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>AccountPwdWizardPage</name>
    <message>
        <source>登录密码验证</source>
        <translation>Verify your account password</translation>
    </message>
    <message>
        <source>请输入当前帐号登录密码</source>
        <translation>Enter the password of your current account</translation>
    </message>
    <message>
        <source>登录密码</source>
        <translation>Account password</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Zorvel：系统托盘中的剪贴板历史，可在多台设备间端对端加密同步。</source>
        <translation>Zorvel: clipboard history in the system tray, synchronised end-to-end encrypted across your devices.</translation>
    </message>
    <message>
        <source>显示此帮助并退出。</source>
        <translation>Show this help and exit.</translation>
    </message>
    <message>
        <source>显示版本号并退出。</source>
        <translation>Show the version number and exit.</translation>
    </message>
    <message>
        <source>设置：~/.config/brenmoor/zorvel.conf
历史记录和文件：~/Documents/ZClipboard/
</source>
        <translation>Settings: ~/.config/brenmoor/zorvel.conf
History and files: ~/Documents/ZClipboard/
</translation>
    </message>
    <message>
        <source>多余的参数：%1</source>
        <translation>Unexpected argument: %1</translation>
    </message>
    <message>
        <source>用 zorvel --help 查看可用的选项。</source>
        <translation>Try zorvel --help for the available options.</translation>
    </message>
    <message>
        <source>在鼠标指针处打开菜单（由正在运行的实例打开）。</source>
        <translation>Open the menu at the mouse pointer (in the running instance).</translation>
    </message>
</context>
<context>
    <name>EncryptWindow</name>
    <message>
        <source>端对端加密</source>
        <translation>End-to-end encryption</translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation>TextLabel</translation>
    </message>
    <message>
        <source>激活端对端加密前， 将无法同步数据！</source>
        <translation>Nothing is synchronised until end-to-end encryption is activated!</translation>
    </message>
    <message>
        <source>激活端对端加密</source>
        <translation>Activate end-to-end encryption</translation>
    </message>
    <message>
        <source>销毁并重置当前加密档案</source>
        <translation>Destroy and reset the current encryption profile</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>端对端加密激活成功! 请牢记新的加密的PIN! 否则你只能销毁重置加密档案，但那会清空您的线上数据, 包括收藏内容！</source>
        <translation>End-to-end encryption is active! Remember your new encryption PIN! Otherwise you can only destroy and reset the encryption profile, which erases your online data, favourites included!</translation>
    </message>
    <message>
        <source>未知错误，请稍候重试</source>
        <translation>Unknown error, please try again later</translation>
    </message>
    <message>
        <source>指纹（空）</source>
        <translation>Fingerprint (none)</translation>
    </message>
    <message>
        <source>指纹: %1</source>
        <translation>Fingerprint: %1</translation>
    </message>
    <message>
        <source>修改PIN</source>
        <translation>Change PIN</translation>
    </message>
    <message>
        <source>内部错误</source>
        <translation>Internal error</translation>
    </message>
    <message>
        <source>网络错误, 请稍候重试</source>
        <translation>Network error, please try again later</translation>
    </message>
    <message>
        <source>PIN错误,如果你忘记了PIN,只能选择“销毁并重置加密档案”，销毁重置加密档案会清空您的线上数据, 包括收藏内容！</source>
        <translation>Wrong PIN. If you forgot your PIN, the only way out is &quot;Destroy and reset the encryption profile&quot;, which erases your online data, favourites included!</translation>
    </message>
    <message>
        <source>您输入的当前PIN不正确,如果您忘记了当前的PIN, 只能选择‘重置加密档案’, 请记住, 重置加密档案会清空线上所有数据, 包括收藏的数据</source>
        <translation>The current PIN you entered is wrong. If you forgot it, the only way out is &quot;Reset the encryption profile&quot;; remember that a reset erases all online data, favourites included</translation>
    </message>
    <message>
        <source>销毁并重建加密档案会清空线上所有加密内容，包括收藏！请谨慎操作！</source>
        <translation>Destroying and rebuilding the encryption profile erases all encrypted content online, favourites included! Proceed with care!</translation>
    </message>
    <message>
        <source>加密档案重置成功! 同时您的线上数据已经清空, 包括收藏内容, 请牢记新的加密的PIN!</source>
        <translation>The encryption profile has been reset! Your online data, favourites included, has been erased. Remember your new encryption PIN!</translation>
    </message>
    <message>
        <source>您输入的帐号登录密码有误, 如果您忘记了登录密码, 请在登录页面选择忘记密码来重置登录密码</source>
        <translation>The account password you entered is wrong. If you forgot it, reset it with &quot;Recover password&quot; on the sign-in page</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>通用设置</source>
        <translation>General</translation>
    </message>
    <message>
        <source>开机启动</source>
        <translation>Start at log-in</translation>
    </message>
    <message>
        <source>菜单显示清空</source>
        <translation>Clear in menu</translation>
    </message>
    <message>
        <source>自动设置剪贴板</source>
        <translation>Auto-set clipboard</translation>
    </message>
    <message>
        <source>清空剪贴板历史记录</source>
        <translation>Clear the clipboard history</translation>
    </message>
    <message>
        <source>导出所有文本</source>
        <translation>Export all texts</translation>
    </message>
    <message>
        <source>快捷键设定:</source>
        <translation>Hot key:</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>Shift</source>
        <translation>Shift</translation>
    </message>
    <message>
        <source>Ctrl</source>
        <translation>Ctrl</translation>
    </message>
    <message>
        <source>+</source>
        <translation>+</translation>
    </message>
    <message>
        <source>Alt</source>
        <translation>Alt</translation>
    </message>
    <message>
        <source>a</source>
        <translation>a</translation>
    </message>
    <message>
        <source>b</source>
        <translation>b</translation>
    </message>
    <message>
        <source>c</source>
        <translation>c</translation>
    </message>
    <message>
        <source>d</source>
        <translation>d</translation>
    </message>
    <message>
        <source>e</source>
        <translation>e</translation>
    </message>
    <message>
        <source>f</source>
        <translation>f</translation>
    </message>
    <message>
        <source>g</source>
        <translation>g</translation>
    </message>
    <message>
        <source>h</source>
        <translation>h</translation>
    </message>
    <message>
        <source>i</source>
        <translation>i</translation>
    </message>
    <message>
        <source>j</source>
        <translation>j</translation>
    </message>
    <message>
        <source>k</source>
        <translation>k</translation>
    </message>
    <message>
        <source>l</source>
        <translation>l</translation>
    </message>
    <message>
        <source>m</source>
        <translation>m</translation>
    </message>
    <message>
        <source>n</source>
        <translation>n</translation>
    </message>
    <message>
        <source>o</source>
        <translation>o</translation>
    </message>
    <message>
        <source>p</source>
        <translation>p</translation>
    </message>
    <message>
        <source>q</source>
        <translation>q</translation>
    </message>
    <message>
        <source>r</source>
        <translation>r</translation>
    </message>
    <message>
        <source>s</source>
        <translation>s</translation>
    </message>
    <message>
        <source>t</source>
        <translation>t</translation>
    </message>
    <message>
        <source>u</source>
        <translation>u</translation>
    </message>
    <message>
        <source>v</source>
        <translation>v</translation>
    </message>
    <message>
        <source>w</source>
        <translation>w</translation>
    </message>
    <message>
        <source>x</source>
        <translation>x</translation>
    </message>
    <message>
        <source>y</source>
        <translation>y</translation>
    </message>
    <message>
        <source>z</source>
        <translation>z</translation>
    </message>
    <message>
        <source>模拟粘贴按键:</source>
        <translation>Paste keystroke:</translation>
    </message>
    <message>
        <source>shift+insert</source>
        <translation>shift+insert</translation>
    </message>
    <message>
        <source>shift+ctrl+v</source>
        <translation>shift+ctrl+v</translation>
    </message>
    <message>
        <source>登录/注册</source>
        <translation>Sign in / Sign up</translation>
    </message>
    <message>
        <source>登录</source>
        <translation>Sign in</translation>
    </message>
    <message>
        <source>注册</source>
        <translation>Sign up</translation>
    </message>
    <message>
        <source>找回密码</source>
        <translation>Recover password</translation>
    </message>
    <message>
        <source>邮箱:</source>
        <translation>Email:</translation>
    </message>
    <message>
        <source>密码:</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>用户信息</source>
        <translation>Account</translation>
    </message>
    <message>
        <source>当前用户:</source>
        <translation>Signed in as:</translation>
    </message>
    <message>
        <source>登出</source>
        <translation>Sign out</translation>
    </message>
    <message>
        <source> 端对端加密</source>
        <translation> End-to-end encryption</translation>
    </message>
    <message>
        <source>隐私</source>
        <translation>Privacy</translation>
    </message>
    <message>
        <source>开启机密内容识别</source>
        <translation>Detect confidential content</translation>
    </message>
    <message>
        <source>文件作为机密</source>
        <translation>Treat files as confidential</translation>
    </message>
    <message>
        <source>自定义关键字(正则)</source>
        <translation>Custom keywords (regex)</translation>
    </message>
    <message>
        <source>-</source>
        <translation>-</translation>
    </message>
    <message>
        <source>默认关键字</source>
        <translation>Built-in keywords</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Zorvel</source>
        <translation>Zorvel</translation>
    </message>
    <message>
        <source>font-size: 18pt; font-weight: bold;</source>
        <translation>font-size: 18pt; font-weight: bold;</translation>
    </message>
    <message>
        <source>Zorvel ver</source>
        <translation>Zorvel ver</translation>
    </message>
    <message>
        <source>访问主页</source>
        <translation>Visit the home page</translation>
    </message>
    <message>
        <source>检查更新</source>
        <translation>Check for updates</translation>
    </message>
    <message>
        <source> 检查服务状态</source>
        <translation> Check the service status</translation>
    </message>
    <message>
        <source>发送日志</source>
        <translation>Send the log</translation>
    </message>
    <message>
        <source>剪贴板已更新</source>
        <translation>Clipboard updated</translation>
    </message>
    <message>
        <source>清空历史记录?</source>
        <translation>Clear the history?</translation>
    </message>
    <message>
        <source>清空操作会清空您所有的历史记录(除收藏外)</source>
        <translation>This clears your whole history (except the favourites)</translation>
    </message>
    <message>
        <source>删除了%1条</source>
        <translation>Deleted %1 entries</translation>
    </message>
    <message>
        <source>邮箱格式存在问题</source>
        <translation>The email address is not valid</translation>
    </message>
    <message>
        <source>超出最大数</source>
        <translation>Too many keywords</translation>
    </message>
    <message>
        <source>自定义关键字最多支持25个</source>
        <translation>At most 25 custom keywords are supported</translation>
    </message>
    <message>
        <source>新关键字</source>
        <translation>New keyword</translation>
    </message>
    <message>
        <source>未登录无法检测服务</source>
        <translation>Sign in to check the service</translation>
    </message>
    <message>
        <source>自动同步服务状态正常</source>
        <translation>The synchronisation service works</translation>
    </message>
    <message>
        <source>自动同步服务状态错误：</source>
        <translation>The synchronisation service has a problem:</translation>
    </message>
    <message>
        <source>确认邮箱: %1</source>
        <translation>Confirm the email address: %1</translation>
    </message>
    <message>
        <source>邮箱将会用于您找回密码等服务,确认使用此邮箱?</source>
        <translation>The address is used to recover your password and similar services. Use this address?</translation>
    </message>
    <message>
        <source>确认向此邮箱发送重置密码的邮件?</source>
        <translation>Send a password-reset mail to this address?</translation>
    </message>
    <message>
        <source>内部错误</source>
        <translation>Internal error</translation>
    </message>
    <message>
        <source>网络错误, 请稍候重试</source>
        <translation>Network error, please try again later</translation>
    </message>
    <message>
        <source>未知错误，请稍候重试</source>
        <translation>Unknown error, please try again later</translation>
    </message>
    <message>
        <source>登录失败,网络有问题</source>
        <translation>Sign-in failed: network problem</translation>
    </message>
    <message>
        <source>登录失败</source>
        <translation>Sign-in failed</translation>
    </message>
    <message>
        <source>密码或用户名错误</source>
        <translation>Wrong user name or password</translation>
    </message>
    <message>
        <source>邮箱已被注册,尝试找回密码</source>
        <translation>This address is already registered; try recovering the password</translation>
    </message>
    <message>
        <source>服务器错误</source>
        <translation>Server error</translation>
    </message>
    <message>
        <source>注册失败,网络有问题</source>
        <translation>Sign-up failed: network problem</translation>
    </message>
    <message>
        <source>无此邮箱</source>
        <translation>No account with this address</translation>
    </message>
    <message>
        <source>请求成功</source>
        <translation>Request sent</translation>
    </message>
    <message>
        <source>请访问你的邮箱并且重置密码。
注意：某些邮件服务器会把Zorvel的邮件认作&quot;垃圾邮件&quot;</source>
        <translation>Please check your mailbox and reset your password.
Note: some mail servers file Zorvel&apos;s mail as &quot;spam&quot;</translation>
    </message>
    <message>
        <source>请求失败,网络有问题</source>
        <translation>Request failed: network problem</translation>
    </message>
    <message>
        <source>您的版本为最新版</source>
        <translation>You have the latest version</translation>
    </message>
    <message>
        <source>有更新: ver%1</source>
        <translation>Update available: ver%1</translation>
    </message>
    <message>
        <source>界面语言:</source>
        <translation>Language:</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>System default</translation>
    </message>
    <message>
        <source>(重新启动后生效)</source>
        <translation>(takes effect after a restart)</translation>
    </message>
    <message>
        <source>Zorvel在任务栏：点击托盘图标或按 %1 打开剪贴板历史</source>
        <translation>Zorvel is in the system tray: click its icon or press %1 to open the clipboard history</translation>
    </message>
    <message>
        <source>Zorvel在任务栏：点击托盘图标打开剪贴板历史</source>
        <translation>Zorvel is in the system tray: click its icon to open the clipboard history</translation>
    </message>
    <message>
        <source>此桌面不允许程序注册全局热键：请在桌面设置中把快捷键绑定到命令 “zorvel --show”。</source>
        <translation>This desktop does not let programs register a global hot key: bind a shortcut to the command &quot;zorvel --show&quot; in the desktop&apos;s settings.</translation>
    </message>
    <message>
        <source>此桌面不允许程序模拟按键：条目复制后请手动粘贴。</source>
        <translation>This desktop does not let programs simulate keystrokes: paste by hand after an entry is copied.</translation>
    </message>
</context>
<context>
    <name>MenuManager</name>
    <message>
        <source>[*机密*] </source>
        <translation>[*confidential*] </translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>同步剪贴板</source>
        <translation>Synchronise clipboard</translation>
    </message>
    <message>
        <source>登录/注册</source>
        <translation>Sign in / Sign up</translation>
    </message>
    <message>
        <source>设置 (有新版本!)</source>
        <translation>Settings (new version!)</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>插件</source>
        <translation>Plugins</translation>
    </message>
    <message>
        <source>清空剪贴板</source>
        <translation>Clear clipboard</translation>
    </message>
    <message>
        <source>激活端对端加密</source>
        <translation>Activate end-to-end encryption</translation>
    </message>
    <message>
        <source>同步收藏</source>
        <translation>Synchronise favourites</translation>
    </message>
    <message>
        <source>&lt;图片&gt;</source>
        <translation>&lt;image&gt;</translation>
    </message>
    <message>
        <source>&lt;图片&gt;(大于5M,无法上传)</source>
        <translation>&lt;image&gt; (over 5 MB, not uploaded)</translation>
    </message>
    <message>
        <source>[文件]%1</source>
        <translation>[file] %1</translation>
    </message>
    <message>
        <source>复制并粘贴</source>
        <translation>Copy and paste</translation>
    </message>
    <message>
        <source>由此批量粘贴</source>
        <translation>Paste all from here</translation>
    </message>
    <message>
        <source>解除机密并上传</source>
        <translation>Declassify and upload</translation>
    </message>
    <message>
        <source>保存到桌面</source>
        <translation>Save to the desktop</translation>
    </message>
    <message>
        <source>取消收藏</source>
        <translation>Remove from favourites</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>收藏</source>
        <comment>the favourites sub-menu</comment>
        <translation>Favourites</translation>
    </message>
    <message>
        <source>收藏</source>
        <comment>add the entry to the favourites</comment>
        <translation>Add to favourites</translation>
    </message>
    <message>
        <source>该条目的内容尚未下载到本机</source>
        <translation>The content of this entry has not been downloaded to this device yet</translation>
    </message>
</context>
<context>
    <name>MqttManager</name>
    <message>
        <source>无法链接Zorvel自动同步服务，原因未知</source>
        <translation>Cannot reach the Zorvel synchronisation service, reason unknown</translation>
    </message>
</context>
<context>
    <name>PINPage</name>
    <message>
        <source>当前加密PIN</source>
        <translation>Current encryption PIN</translation>
    </message>
    <message>
        <source>请输入当前加密PIN</source>
        <translation>Enter the current encryption PIN</translation>
    </message>
    <message>
        <source>新的PIN</source>
        <translation>New PIN</translation>
    </message>
    <message>
        <source>请输入新的加密PIN</source>
        <translation>Enter the new encryption PIN</translation>
    </message>
    <message>
        <source>加密PIN</source>
        <translation>Encryption PIN</translation>
    </message>
    <message>
        <source>再次输入新的加密PIN</source>
        <translation>Enter the new encryption PIN again</translation>
    </message>
    <message>
        <source>不能和上一个PIN相同</source>
        <translation>The new PIN must differ from the current one</translation>
    </message>
    <message>
        <source>和上一次的PIN不相同</source>
        <translation>The PINs do not match</translation>
    </message>
    <message>
        <source>新的PIN至少需要%1个字符，PIN越长越安全</source>
        <translation>The new PIN needs at least %1 characters; a longer PIN is safer</translation>
    </message>
</context>
<context>
    <name>PINWizard</name>
    <message>
        <source>端对端加密</source>
        <translation>End-to-end encryption</translation>
    </message>
</context>
<context>
    <name>PluginHost</name>
    <message>
        <source>插件“%1”运行时间过长，已被停止</source>
        <translation>The plugin &quot;%1&quot; ran too long and was stopped</translation>
    </message>
    <message>
        <source>插件“%1”连续 %2 次运行失败，已停用；可在插件窗口中重新启用</source>
        <translation>The plugin &quot;%1&quot; failed %2 times in a row and was disabled; enable it again in the plugin window</translation>
    </message>
    <message>
        <source>插件“%1”要打开以下地址：

%2

是否打开？</source>
        <translation>The plugin &quot;%1&quot; wants to open this address:

%2

Open it?</translation>
    </message>
    <message>
        <source>插件包 %1 加载时间过长，未安装</source>
        <translation>The plugin package %1 took too long to load and was not installed</translation>
    </message>
    <message>
        <source>已安装插件“%1”（版本 %2）。
要用“%3”（版本 %4）替换它吗？</source>
        <translation>The plugin &quot;%1&quot; (version %2) is installed.
Replace it with &quot;%3&quot; (version %4)?</translation>
    </message>
</context>
<context>
    <name>pluginWindow</name>
    <message>
        <source>插件</source>
        <translation>Plugins</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>描述</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>版本</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>作者</source>
        <translation>Author</translation>
    </message>
    <message>
        <source>插件引擎:v1.2</source>
        <translation>Plugin engine: v1.2</translation>
    </message>
    <message>
        <source>+</source>
        <translation>+</translation>
    </message>
    <message>
        <source>-</source>
        <translation>-</translation>
    </message>
    <message>
        <source>帮助/下载</source>
        <translation>Help / Download</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>重新启用</source>
        <translation>Enable again</translation>
    </message>
    <message>
        <source>已停用</source>
        <translation>Disabled</translation>
    </message>
    <message>
        <source>可用</source>
        <translation>Enabled</translation>
    </message>
</context>
</TS>
