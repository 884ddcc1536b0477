package hello;

import javax.swing.JOptionPane;

/** The smallest application worth a launcher: greets the user in a dialog and on the console. */
public final class Hello {
    public static void main(String[] args) {
        String who = args.length > 0 ? String.join(" ", args) : "world";
        System.out.println("Hello, " + who + "!");
        if (!java.awt.GraphicsEnvironment.isHeadless()) {
            JOptionPane.showMessageDialog(null, "Hello, " + who + "!", "Hello", JOptionPane.INFORMATION_MESSAGE);
        }
    }
}
